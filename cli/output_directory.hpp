#pragma once

#include <string>

namespace convert {

// Makes `path` and every missing directory above it, as mkdir -p does (mode
// 0777 less the umask); 0, or the errno of the failure: ENOTDIR where a
// component is something else than a directory.
int make_directories(const std::string& path);

}  // namespace convert
