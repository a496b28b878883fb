#include "oracle/oracle.hpp"

#include <algorithm>
#include <cstring>

#include "tarvok/raw/layout.hpp"

namespace oracle {
namespace {

namespace layout = tarvok::raw::layout;

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
    if (bytes.size() - at < layout::end_marker_size) {
        return false;
    }
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + layout::end_marker_size),
                       [](std::uint8_t byte) { return byte == layout::end_marker_byte; });
}

}  // namespace

Decoded decode(Bytes payload)
{
    Decoded decoded;
    std::uint32_t position = 0;
    std::size_t at = 0;
    while (at < payload.size()) {
        const std::uint8_t opcode = payload[at];
        if (opcode <= layout::last_delta_opcode) {
            position += opcode;
            at += 1;
        } else if (opcode <= layout::last_short_point_opcode) {
            decoded.points.push_back({position, std::uint32_t{opcode} & layout::short_intensity_bits});
            at += 1;
        } else {
            const std::size_t width = layout::operand_length(opcode);
            if ((opcode == layout::end_marker_byte && is_end_marker(payload, at)) || payload.size() - at - 1 < width) {
                decoded.complete = false;
                break;
            }
            decoded.points.push_back({position, little_endian(payload, at + 1, width)});
            at += 1 + width;
        }
    }
    return decoded;
}

Bytes window(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset)
{
    const std::uint64_t first = start_offset + layout::block_header_size;
    const std::uint64_t last = end_offset + layout::block_header_size;
    if (last <= first || first >= file.size()) {
        return {};
    }
    return file.subspan(first, std::min<std::uint64_t>(last, file.size()) - first);
}

Bytes payload(Bytes delivered)
{
    for (std::size_t at = 0; at + layout::end_marker_size <= delivered.size(); ++at) {
        if (is_end_marker(delivered, at)) {
            return delivered.first(at);
        }
    }
    return delivered;
}

std::vector<ScanPoint> read_block(Bytes file, std::uint64_t start_offset, std::uint64_t end_offset)
{
    return decode(payload(window(file, start_offset, end_offset))).points;
}

Peaks peaks(const std::vector<ScanPoint>& points)
{
    Peaks kept;
    for (const ScanPoint& point : points) {
        if (point.intensity != 0) {
            kept.mz.push_back(static_cast<double>(point.position));
            kept.intensity.push_back(static_cast<float>(point.intensity));
        }
    }
    return kept;
}

ParsedIndex parse_index(Bytes stream)
{
    ParsedIndex parsed;
    if (stream.size() < layout::index_header_size) {
        parsed.error = "Idx stream too short for header";
        return parsed;
    }
    for (std::size_t at = layout::index_header_size; at + layout::index_record_size <= stream.size();
         at += layout::index_record_size) {
        const std::uint32_t block_size = little_endian(stream, at + layout::record_block_size_at, 4);
        if (block_size <= layout::retained_block_size_above) {
            continue;
        }
        tarvok::raw::IdxRecord record;
        record.block_offset = little_endian(stream, at + layout::record_block_offset_at, 4);
        record.block_size = block_size;
        const std::uint32_t time_bits = little_endian(stream, at + layout::record_retention_time_at, 4);
        std::memcpy(&record.retention_time_min, &time_bits, sizeof time_bits);
        record.ms_level = stream[at + layout::record_ms_level_code_at] == 1 ? 1 : 2;
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at + layout::record_opaque_at),
                    layout::record_opaque_size, record.opaque.begin());
        parsed.records.push_back(record);
    }
    if (parsed.records.empty()) {
        parsed.error = "Idx stream contained no valid scan records";
    }
    return parsed;
}

}  // namespace oracle
