#include <algorithm>
#include <bit>

#include "little_endian.hpp"
#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/layout.hpp"

namespace sample_writer {

using namespace tarvok::raw::layout;

std::vector<std::uint8_t> encode_index(std::span<const IndexEntry> entries, std::size_t trailing) {
    std::vector<std::uint8_t> bytes(index_header_size + index_record_size * entries.size() + trailing, 0);
    std::span<std::uint8_t> out(bytes);
    std::size_t at = index_header_size;
    for (const IndexEntry& entry : entries) {
        put_u32_le(out, at + record_block_offset_at, entry.block_offset);
        put_u32_le(out, at + record_block_size_at, entry.block_size);
        put_u32_le(out, at + record_retention_time_at, std::bit_cast<std::uint32_t>(entry.retention_time_min));
        out[at + record_ms_level_code_at] = entry.ms_level_code;
        std::ranges::copy(entry.opaque, out.begin() + static_cast<std::ptrdiff_t>(at + record_opaque_at));
        at += index_record_size;
    }
    return bytes;
}

}  // namespace sample_writer
