#include <algorithm>
#include <bit>

#include "little_endian.hpp"
#include "sample_writer/sample_writer.hpp"

namespace sample_writer {

namespace {

constexpr std::size_t header_size = 32;
constexpr std::size_t record_size = 54;

}  // namespace

std::vector<std::uint8_t> encode_index(std::span<const IndexEntry> entries, std::size_t trailing) {
    std::vector<std::uint8_t> bytes(header_size + record_size * entries.size() + trailing, 0);
    std::span<std::uint8_t> out(bytes);
    std::size_t at = header_size;
    for (const IndexEntry& entry : entries) {
        put_u32_le(out, at + 0, entry.block_offset);
        put_u32_le(out, at + 4, entry.block_size);
        put_u32_le(out, at + 12, std::bit_cast<std::uint32_t>(entry.retention_time_min));
        out[at + 16] = entry.ms_level_code;
        std::ranges::copy(entry.opaque, out.begin() + static_cast<std::ptrdiff_t>(at + 18));
        at += record_size;
    }
    return bytes;
}

}  // namespace sample_writer
