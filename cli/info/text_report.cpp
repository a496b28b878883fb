#include "text_report.hpp"

#include <cstdio>

#include "summary_rows.hpp"
#include "tarvok/strict_spectra.hpp"
#include "text_forms.hpp"

namespace info {

std::string text_block(const SampleSummary& summary)
{
    std::string out = harmless_text(summary.sample) + "\n";
    for (const SummaryRow& row : summary_rows(summary)) {
        char label[32];
        std::snprintf(label, sizeof label, "  %-16s", row.label.c_str());
        out += label + harmless_text(row.value) + "\n";
    }
    for (std::size_t i = 0; i < summary.damaged.size() && i < text_damage_lines; ++i) {
        out += "    " + tarvok::damage_text(summary.damaged[i]) + "\n";
    }
    if (summary.damaged.size() > text_damage_lines) {
        out += "    and " + std::to_string(summary.damaged.size() - text_damage_lines) + " more (--json lists every one)\n";
    }
    return out;
}

}  // namespace info
