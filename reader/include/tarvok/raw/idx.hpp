#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "tarvok/error.hpp"
#include "tarvok/export.hpp"
#include "tarvok/raw/layout.hpp"

namespace tarvok::raw {

// One retained entry of the index stream.
struct TARVOK_API IdxRecord {
    std::uint32_t block_offset = 0;
    std::uint32_t block_size = 0;
    float retention_time_min = 0.0F;
    std::uint32_t ms_level = 0;  // 1 or 2
    std::array<std::uint8_t, layout::record_opaque_size> opaque{};

    // The whole index stream in, the records whose block size exceeds
    // layout::retained_block_size_above out.
    static std::expected<std::vector<IdxRecord>, Error> parse_stream(
        std::span<const std::uint8_t> bytes);
};

}  // namespace tarvok::raw
