#pragma once

#include <string>
#include <vector>

#include "sample_summary.hpp"

namespace info {

struct SummaryRow {
    std::string label;
    std::string value;  // raw: names as they came, for each output to make safe
};

// The summary as label and value, rounded for reading, in the order both
// the text and the report show it.
std::vector<SummaryRow> summary_rows(const SampleSummary& summary);

}  // namespace info
