#include "html_report.hpp"

#include "summary_rows.hpp"
#include "svg_plot.hpp"
#include "text_forms.hpp"

namespace info {
namespace {

constexpr const char* ms1_colour = "#1f5fa8";
constexpr const char* msn_colour = "#d2691e";

constexpr const char* style = R"(
body { margin: 0; background: #f4f5f7; color: #1d2329; font: 14px/1.4 system-ui, sans-serif; }
main { max-width: 920px; margin: 0 auto; padding: 16px 20px 32px; }
h1 { font-size: 22px; margin: 4px 0 2px; }
h2 { font-size: 16px; margin: 22px 0 8px; }
.subtitle { margin: 0 0 8px; color: #5a6570; }
table { border-collapse: collapse; background: #fff; }
th, td { text-align: left; padding: 3px 12px; border-bottom: 1px solid #e3e6ea; vertical-align: top; }
th { font-weight: 600; white-space: nowrap; }
td { overflow-wrap: anywhere; }
.damaged { color: #a4161a; font-weight: 600; }
.whole { color: #2b7a3d; font-weight: 600; }
svg.plot { display: block; max-width: 100%; height: auto; background: #fff; margin: 10px 0; border: 1px solid #e3e6ea; }
svg text { font: 12px system-ui, sans-serif; fill: #1d2329; }
svg text.title { font-size: 15px; font-weight: 600; }
svg text.axis-label { font-size: 13px; }
svg text.empty { fill: #5a6570; }
svg .grid { stroke: #e8eaed; }
svg .axis { stroke: #5a6570; }
svg .series { fill: none; stroke-width: 1.2; stroke-linejoin: round; }
svg .bar { fill: #1f5fa8; }
)";

void summary_table(std::string& out, const SampleSummary& summary)
{
    out += "<table id=\"summary\">\n";
    for (const SummaryRow& row : summary_rows(summary)) {
        out += "<tr><th>";
        append_html_text(out, row.label);
        out += "</th><td";
        if (row.label == "damaged scans") {
            out += summary.damaged.empty() ? " class=\"whole\"" : " class=\"damaged\"";
        }
        out += ">";
        append_html_text(out, row.value);
        out += "</td></tr>\n";
    }
    out += "</table>\n";
}

void damaged_table(std::string& out, const SampleSummary& summary)
{
    out += "<h2>Damaged scans</h2>\n";
    if (summary.damaged.empty()) {
        out += "<p class=\"whole\" id=\"damaged\" data-damaged=\"0\">None: every scan's block is whole.</p>\n";
        return;
    }
    out += "<p>The strict path found these blocks damaged; their spectra hold what could be decoded.</p>\n";
    out += "<table id=\"damaged\" data-damaged=\"" + std::to_string(summary.damaged.size()) +
           "\">\n<tr><th>scan</th><th>reason</th></tr>\n";
    for (std::size_t i = 0; i < summary.damaged.size() && i < html_damage_rows; ++i) {
        out += "<tr><td>" + std::to_string(summary.damaged[i].scan_number) + "</td><td>";
        append_html_text(out, summary.damaged[i].reason);
        out += "</td></tr>\n";
    }
    out += "</table>\n";
    if (summary.damaged.size() > html_damage_rows) {
        out += "<p>and " + std::to_string(summary.damaged.size() - html_damage_rows) +
               " more (tarvok-info --json lists every one)</p>\n";
    }
}

std::vector<LineSeries> by_level(const std::vector<Envelope>& envelopes)
{
    return {{"MS1", ms1_colour, &envelopes[ms1]}, {"MS2+", msn_colour, &envelopes[msn]}};
}

}  // namespace

std::string html_report(const SampleSummary& summary, const SamplePlots& plots)
{
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    append_html_text(out, summary.sample);
    out += " - tarvok-info</title>\n<style>";
    out += style;
    out += "</style>\n</head>\n<body>\n<main>\n<h1>";
    append_html_text(out, summary.sample);
    out += "</h1>\n<p class=\"subtitle\">tarvok-info " TARVOK_VERSION " report of ";
    append_html_text(out, summary.path);
    out += "</p>\n";
    summary_table(out, summary);
    if (plots.untimed > 0) {
        out += "<p>" + std::to_string(plots.untimed) +
               " scans have no finite retention time and are left out of the plots over time.</p>\n";
    }
    out += line_plot({"tic", "Total ion current", "TIC (counts)", plots.time, by_level(plots.tic)});
    out += line_plot({"base-peak", "Base-peak chromatogram", "base peak intensity (counts)", plots.time,
                      by_level(plots.base_peak)});
    out += line_plot({"peaks", "Peaks per scan", "peaks", plots.time, by_level(plots.peak_count)});
    out += level_bars("Scans per MS level", summary.ms_levels);
    damaged_table(out, summary);
    out += "</main>\n</body>\n</html>\n";
    return out;
}

}  // namespace info
