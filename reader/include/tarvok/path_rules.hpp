#pragma once

#include <string>
#include <string_view>

#include "tarvok/export.hpp"

// How a sample's companion paths and name derive from the path it was opened
// with. These are the library's own rules, not std::filesystem's: "dir/.." and
// "a/b/" are read differently there.
namespace tarvok::path_rules {

// The path with ".scan" appended to its file name (or as a new last
// component when it has none).
TARVOK_API std::string scan_path_for(std::string_view path);

// The file stem of the path, or "unknown" when it has no file name.
TARVOK_API std::string sample_name_for(std::string_view path);

}  // namespace tarvok::path_rules
