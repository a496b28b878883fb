#pragma once

#include <string>
#include <string_view>

#include "tarvok/export.hpp"

// How a sample's companion paths and name derive from the path it was opened
// with. These are the library's own rules, not std::filesystem's: "dir/.." and
// "a/b/" are read differently there.
namespace tarvok::path_rules {

// The path with ".scan" appended to its file name (or as a new last
// component when it has none). Bytes that are not UTF-8 are kept: the
// result names the file beside the one the path names.
TARVOK_API std::string scan_path_for(std::string_view path);

// The file stem of the path as bytes, or "unknown" when it has no file name.
TARVOK_API std::string file_stem_for(std::string_view path);

// The file stem as text (see lossy_text), or "unknown".
TARVOK_API std::string sample_name_for(std::string_view path);

// Bytes as UTF-8 text: each invalid sequence (one per maximal subpart)
// becomes U+FFFD, so that a path can be shown whatever its bytes.
TARVOK_API std::string lossy_text(std::string_view bytes);

}  // namespace tarvok::path_rules
