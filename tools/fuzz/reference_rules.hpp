#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tarvok/raw/idx.hpp"
#include "tarvok/raw/scan.hpp"

// The formats' rules written out as plainly as possible, with no regard for
// speed, for the targets to hold the library's results against.
namespace fuzz::reference {

using Bytes = std::span<const std::uint8_t>;

std::vector<tarvok::raw::ScanPoint> decode(Bytes payload);

// What one read of the window [start + 56, end + 56) delivers from a regular
// file holding `file`.
Bytes window(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset);

// The delivered bytes in front of the first FF FF FF FF, or all of them.
Bytes payload(Bytes delivered);

std::vector<tarvok::raw::ScanPoint> read_block(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset);

// The retained records, or the parse error's message in `error`.
struct ParsedIndex {
    std::vector<tarvok::raw::IdxRecord> records;
    std::string error;
};
ParsedIndex parse_index(Bytes stream);

}  // namespace fuzz::reference
