#include "reference_rules.hpp"

#include <algorithm>
#include <cstring>

namespace fuzz::reference {
namespace {

constexpr std::uint64_t block_header = 56;
constexpr std::size_t index_header = 32;
constexpr std::size_t record_length = 54;

std::uint32_t little_endian(Bytes bytes, std::size_t at, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t k = width; k > 0; --k) {
        value = value << 8U | bytes[at + k - 1];
    }
    return value;
}

bool is_end_marker(Bytes bytes, std::size_t at)
{
    return bytes.size() - at >= 4 && bytes[at] == 0xFF && bytes[at + 1] == 0xFF && bytes[at + 2] == 0xFF &&
           bytes[at + 3] == 0xFF;
}

}  // namespace

std::vector<tarvok::raw::ScanPoint> decode(Bytes payload)
{
    std::vector<tarvok::raw::ScanPoint> points;
    std::uint32_t position = 0;
    std::size_t at = 0;
    while (at < payload.size()) {
        const std::uint8_t opcode = payload[at];
        if (opcode < 0x80) {
            position += opcode;
            at += 1;
        } else if (opcode < 0xFC) {
            points.push_back({position, opcode & 0x7FU});
            at += 1;
        } else {
            if (is_end_marker(payload, at)) {
                break;
            }
            // FC, FD, FE and FF carry 1, 2, 3 and 4 operand bytes.
            const std::size_t width = opcode - 0xFBU;
            if (payload.size() - at - 1 < width) {
                break;
            }
            points.push_back({position, little_endian(payload, at + 1, width)});
            at += 1 + width;
        }
    }
    return points;
}

Bytes window(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset)
{
    const std::uint64_t first = start_offset + block_header;
    const std::uint64_t last = end_offset + block_header;
    if (last <= first || first >= file.size()) {
        return {};
    }
    return file.subspan(first, std::min<std::uint64_t>(last, file.size()) - first);
}

Bytes payload(Bytes delivered)
{
    for (std::size_t at = 0; at + 4 <= delivered.size(); ++at) {
        if (is_end_marker(delivered, at)) {
            return delivered.first(at);
        }
    }
    return delivered;
}

std::vector<tarvok::raw::ScanPoint> read_block(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset)
{
    return decode(payload(window(file, start_offset, end_offset)));
}

ParsedIndex parse_index(Bytes stream)
{
    ParsedIndex parsed;
    if (stream.size() < index_header) {
        parsed.error = "Idx stream too short for header";
        return parsed;
    }
    for (std::size_t at = index_header; at + record_length <= stream.size(); at += record_length) {
        const std::uint32_t block_size = little_endian(stream, at + 4, 4);
        if (block_size <= block_header) {
            continue;
        }
        tarvok::raw::IdxRecord record;
        record.block_offset = little_endian(stream, at, 4);
        record.block_size = block_size;
        const std::uint32_t time_bits = little_endian(stream, at + 12, 4);
        std::memcpy(&record.retention_time_min, &time_bits, sizeof time_bits);
        record.ms_level = stream[at + 16] == 1 ? 1 : 2;
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at + 18), 16, record.opaque.begin());
        parsed.records.push_back(record);
    }
    if (parsed.records.empty()) {
        parsed.error = "Idx stream contained no valid scan records";
    }
    return parsed;
}

}  // namespace fuzz::reference
