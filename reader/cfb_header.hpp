#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The compound-file header rules that the container library does not hold a
// file to. It accepts some forbidden headers and then reads the file with
// the wrong geometry, so they are refused before it sees them.
namespace tarvok::cfb {

inline constexpr std::size_t header_size = 512;

// Why the header breaks a rule, or nothing when it keeps them all. A header
// without the container signature is left to the library, whose message
// says so.
std::optional<std::string> header_violation(std::span<const std::uint8_t, header_size> header);

}  // namespace tarvok::cfb
