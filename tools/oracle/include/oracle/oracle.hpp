#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tarvok/raw/idx.hpp"
#include "tarvok/raw/scan.hpp"

// The format's rules written out as plainly as possible, one opcode and one
// record at a time, for the tests, the fuzz targets and the benchmark to hold
// the library's fast paths against.
namespace oracle {

using Bytes = std::span<const std::uint8_t>;
using tarvok::raw::ScanPoint;

struct Decoded {
    std::vector<ScanPoint> points;
    // Decoding reached the end: every opcode whole, no end marker met.
    bool complete = true;
};

Decoded decode(Bytes payload);

// What one read of a block's window delivers from a regular file holding `file`.
Bytes window(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset);

// The delivered bytes in front of the first FF FF FF FF, or all of them.
Bytes payload(Bytes delivered);

std::vector<ScanPoint> read_block(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset);

// A spectrum's lists: the points of non-zero intensity.
struct Peaks {
    std::vector<double> mz;
    std::vector<float> intensity;

    friend bool operator==(const Peaks&, const Peaks&) = default;
};
Peaks peaks(const std::vector<ScanPoint>& points);

// The retained records, or the parse error's message in `error`.
struct ParsedIndex {
    std::vector<tarvok::raw::IdxRecord> records;
    std::string error;
};
ParsedIndex parse_index(Bytes stream);

}  // namespace oracle
