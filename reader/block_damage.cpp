#include "block_damage.hpp"

#include "tarvok/raw/layout.hpp"

namespace tarvok {

namespace {
// Beyond this a file holds bytes no 32-bit block offset, and so no window
// but the last one's, can start at: they belong to scans the index cannot name.
constexpr std::uint64_t offset_reach = std::uint64_t{1} << 32U;
}  // namespace

std::optional<std::string_view> damage_before_reading(const BlockPlace& place)
{
    // The last window ends at the file's end, not at another record: one
    // that cannot open is a block past the end, not a misordered index.
    if (!place.last && place.end_offset <= place.block_offset) {
        return damage_reason::window_reversed;
    }
    if (place.last && place.scan_file_len > offset_reach) {
        return damage_reason::beyond_offsets;
    }
    // The window starts behind the header: a file that ends before it holds
    // none of the payload.
    if (place.block_offset + raw::layout::block_header_size >= place.scan_file_len) {
        return damage_reason::past_end;
    }
    return std::nullopt;
}

}  // namespace tarvok
