#pragma once

#include <string>
#include <vector>

#include "tarvok/raw/scan.hpp"

namespace fuzz {

// Fails, naming the first difference, unless both lists are identical.
void expect_same_points(const std::string& what, const std::vector<tarvok::raw::ScanPoint>& got,
                        const std::vector<tarvok::raw::ScanPoint>& want);

}  // namespace fuzz
