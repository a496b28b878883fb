#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "tarvok/error.hpp"
#include "tarvok/export.hpp"

namespace tarvok::raw {

struct ScanPoint {
    std::uint32_t position = 0;
    std::uint32_t intensity = 0;

    friend bool operator==(const ScanPoint&, const ScanPoint&) = default;
};

// Reads the window [start_offset + 56, end_offset + 56) of the scan-data file
// with one open, one seek, one read and one close, cuts it at the first
// FF FF FF FF and decodes what lies before.
TARVOK_API std::expected<std::vector<ScanPoint>, Error> read_scan_block(
    const std::string& scan_path, std::uint64_t start_offset, std::uint64_t end_offset);

// Decodes an opcode stream; never fails, stops in front of an incomplete opcode.
TARVOK_API std::vector<ScanPoint> decode_payload(std::span<const std::uint8_t> bytes);

}  // namespace tarvok::raw
