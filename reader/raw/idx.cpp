#include "tarvok/raw/idx.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarvok::raw {
namespace {

constexpr std::size_t header_size = 32;
constexpr std::size_t record_size = 54;

constexpr std::size_t block_offset_at = 0;
constexpr std::size_t block_size_at = 4;
constexpr std::size_t retention_time_at = 12;
constexpr std::size_t ms_level_code_at = 16;
constexpr std::size_t opaque_at = 18;

constexpr std::uint32_t min_block_size_exclusive = 56;

std::uint32_t load_u32le(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
           static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

}  // namespace

std::expected<std::vector<IdxRecord>, Error> IdxRecord::parse_stream(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < header_size) {
        return std::unexpected(Error::parse("Idx stream too short for header"));
    }
    const std::span<const std::uint8_t> body = bytes.subspan(header_size);
    const std::size_t count = body.size() / record_size;

    std::vector<IdxRecord> records;
    records.reserve(count / 4);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t* r = body.data() + k * record_size;
        const std::uint32_t block_size = load_u32le(r + block_size_at);
        if (block_size <= min_block_size_exclusive) {
            continue;
        }
        IdxRecord& record = records.emplace_back();
        record.block_offset = load_u32le(r + block_offset_at);
        record.block_size = block_size;
        record.retention_time_min = std::bit_cast<float>(load_u32le(r + retention_time_at));
        record.ms_level = r[ms_level_code_at] == 1 ? 1 : 2;
        std::copy_n(r + opaque_at, record.opaque.size(), record.opaque.begin());
    }
    if (records.empty()) {
        return std::unexpected(Error::parse("Idx stream contained no valid scan records"));
    }
    return records;
}

}  // namespace tarvok::raw
