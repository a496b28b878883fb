#pragma once

#include <cstddef>
#include <span>

namespace mzml {

constexpr std::size_t base64_length(std::size_t bytes) { return (bytes + 2) / 3 * 4; }

// Standard alphabet with '=' padding, no line breaks. Writes exactly
// base64_length(bytes.size()) characters to out.
void base64_encode(std::span<const std::byte> bytes, char* out);

}  // namespace mzml
