#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvok {

namespace damage_reason {
inline constexpr std::string_view window_reversed =
    "block window ends before it starts (index records out of order or repeated)";
inline constexpr std::string_view past_end = "block starts at or past the end of the scan-data file";
inline constexpr std::string_view no_terminator = "block has no terminator FF FF FF FF";
inline constexpr std::string_view beyond_offsets = "scan-data file is longer than 32-bit block offsets can reach";
}  // namespace damage_reason

// Where one block's window lies, as iteration computes it.
struct BlockPlace {
    std::uint64_t block_offset = 0;
    std::uint64_t end_offset = 0;  // the next record's block offset, or the file's length for the last
    bool last = false;
    std::uint64_t scan_file_len = 0;
};

// The damage that shows before the window is read; nothing when only its
// bytes can tell (the terminator).
std::optional<std::string_view> damage_before_reading(const BlockPlace& place);

}  // namespace tarvok
