#pragma once

#include <expected>
#include <string>

namespace mzml {

// How a source file appears in the document: its file name, and the file://
// URI of the directory holding it (absolute, relative paths taken from the
// working directory, every byte other than unreserved ones and '/'
// percent-escaped, so that any name survives exactly).
struct FileLocation {
    std::string name;
    std::string directory_uri;
};

// Fails only when a relative path meets an unknown working directory (errno).
std::expected<FileLocation, int> locate_file(const std::string& path);

}  // namespace mzml
