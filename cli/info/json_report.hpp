#pragma once

#include <string>

#include "sample_summary.hpp"

namespace info {

// The sample as one JSON object, indented to sit in the top-level array.
std::string json_object(const SampleSummary& summary);

}  // namespace info
