#include "json_report.hpp"

#include "text_forms.hpp"

namespace info {
namespace {

class ObjectWriter {
public:
    explicit ObjectWriter(std::string& out) : out_(out) { out_ += "  {"; }
    ~ObjectWriter() { out_ += "\n  }"; }
    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    // Starts a member; its value follows.
    std::string& key(const char* name)
    {
        out_ += first_ ? "\n    " : ",\n    ";
        first_ = false;
        append_json_string(out_, name);
        out_ += ": ";
        return out_;
    }

private:
    std::string& out_;
    bool first_ = true;
};

void append_range(std::string& out, const std::optional<Range>& range)
{
    if (!range) {
        out += "null";
        return;
    }
    out += '[';
    append_number(out, range->min);
    out += ", ";
    append_number(out, range->max);
    out += ']';
}

}  // namespace

std::string json_object(const SampleSummary& summary)
{
    std::string out;
    {
        ObjectWriter object(out);
        append_json_string(object.key("path"), summary.path);
        append_json_string(object.key("sample"), summary.sample);
        append_json_string(object.key("scan_path"), summary.scan_path);
        append_number(object.key("wiff_bytes"), summary.wiff_bytes);
        append_number(object.key("scan_bytes"), summary.scan_bytes);
        append_number(object.key("scans"), summary.scans);

        std::string& levels = object.key("ms_levels");
        levels += '{';
        for (const auto& [level, count] : summary.ms_levels) {
            levels += levels.back() == '{' ? "" : ", ";
            append_json_string(levels, std::to_string(level));
            levels += ": ";
            append_number(levels, count);
        }
        levels += '}';

        append_number(object.key("peaks"), summary.peaks);
        append_number(object.key("empty_scans"), summary.empty_scans);
        append_range(object.key("retention_time_sec"), summary.retention_time_sec);
        append_range(object.key("mz_range"), summary.mz_range);

        std::string& tic = object.key("tic_max");
        if (summary.tic_max) {
            tic += "{\"scan\": ";
            append_number(tic, std::uint64_t{summary.tic_max->scan});
            tic += ", \"tic\": ";
            append_number(tic, summary.tic_max->tic);
            tic += '}';
        } else {
            tic += "null";
        }

        std::string& base = object.key("base_peak");
        if (summary.base_peak) {
            base += "{\"scan\": ";
            append_number(base, std::uint64_t{summary.base_peak->scan});
            base += ", \"mz\": ";
            append_number(base, summary.base_peak->mz);
            base += ", \"intensity\": ";
            append_number(base, summary.base_peak->intensity);
            base += '}';
        } else {
            base += "null";
        }

        std::string& damaged = object.key("damaged");
        damaged += '[';
        for (const tarvok::BlockDamage& damage : summary.damaged) {
            damaged += damaged.back() == '[' ? "\n      {\"scan\": " : ",\n      {\"scan\": ";
            append_number(damaged, std::uint64_t{damage.scan_number});
            damaged += ", \"reason\": ";
            append_json_string(damaged, damage.reason);
            damaged += '}';
        }
        damaged += summary.damaged.empty() ? "]" : "\n    ]";
    }
    return out;
}

}  // namespace info
