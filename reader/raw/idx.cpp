#include "tarvok/raw/idx.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "little_endian.hpp"
#include "tarvok/raw/layout.hpp"

namespace tarvok::raw {
namespace {

using namespace layout;

}  // namespace

std::expected<std::vector<IdxRecord>, Error> IdxRecord::parse_stream(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < index_header_size) {
        return std::unexpected(Error::parse("Idx stream too short for header"));
    }
    const std::span<const std::uint8_t> body = bytes.subspan(index_header_size);
    const std::size_t count = body.size() / index_record_size;

    const auto retained = [&](std::size_t k) {
        return load_u32le(body.data() + k * index_record_size + record_block_size_at) > retained_block_size_above;
    };
    // Counted first: the records of a large sample are tens of MB, too many to copy as the vector grows.
    std::size_t kept = 0;
    for (std::size_t k = 0; k < count; ++k) {
        kept += retained(k) ? 1 : 0;
    }
    std::vector<IdxRecord> records;
    records.reserve(kept);
    for (std::size_t k = 0; k < count; ++k) {
        if (!retained(k)) {
            continue;
        }
        const std::uint8_t* r = body.data() + k * index_record_size;
        const std::uint32_t block_size = load_u32le(r + record_block_size_at);
        IdxRecord& record = records.emplace_back();
        record.block_offset = load_u32le(r + record_block_offset_at);
        record.block_size = block_size;
        record.retention_time_min = std::bit_cast<float>(load_u32le(r + record_retention_time_at));
        record.ms_level = r[record_ms_level_code_at] == 1 ? 1 : 2;
        std::copy_n(r + record_opaque_at, record.opaque.size(), record.opaque.begin());
    }
    if (records.empty()) {
        return std::unexpected(Error::parse("Idx stream contained no valid scan records"));
    }
    return records;
}

}  // namespace tarvok::raw
