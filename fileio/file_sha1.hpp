#pragma once

#include <expected>
#include <string>

namespace tarvok {

// SHA-1 of the file's whole content as 40 lower-case hexadecimal digits, or
// the errno of the open or read that failed: EISDIR for a directory, EINVAL
// for anything else that is not a regular file.
std::expected<std::string, int> file_sha1(const std::string& path);

}  // namespace tarvok
