#pragma once

// The on-disk layout of a sample, every fact named once. docs/format.md
// describes it with byte tables and worked examples; tests/python/layout.py
// holds the same values for the Python tests. All numbers are little-endian.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvok::raw::layout {

// The container stream that indexes the scans, '/'-separated from the root.
inline constexpr std::string_view index_stream_path = "SampleSubtree/Sample1/Idx";

// Index stream: a header that nothing reads, then whole records.
inline constexpr std::size_t index_header_size = 32;
inline constexpr std::size_t index_record_size = 54;

// Fields of a record, by their offset in it.
inline constexpr std::size_t record_block_offset_at = 0;      // u32
inline constexpr std::size_t record_block_size_at = 4;        // u32
inline constexpr std::size_t record_retention_time_at = 12;   // f32, minutes
inline constexpr std::size_t record_ms_level_code_at = 16;    // u8, 1 is MS1, anything else MS2
inline constexpr std::size_t record_opaque_at = 18;           // carried along unread
inline constexpr std::size_t record_opaque_size = 16;

// Scan block: a header that nothing reads, then the payload. Both ends of a
// block's read window lie this far behind the offsets that bound it.
inline constexpr std::size_t block_header_size = 56;
// A record is kept only when its block holds more than a header.
inline constexpr std::uint32_t retained_block_size_above = block_header_size;

// Payload opcodes, one byte each and 0 to 4 operand bytes behind.
inline constexpr std::uint8_t last_delta_opcode = 0x7F;         // 00-7F: add to the position
inline constexpr std::uint8_t first_short_point_opcode = 0x80;  // 80-FB: a point, intensity = low 7 bits
inline constexpr std::uint8_t last_short_point_opcode = 0xFB;
inline constexpr std::uint8_t first_long_opcode = 0xFC;         // FC-FF: a point, intensity in 1-4 operand bytes
inline constexpr std::uint8_t short_intensity_bits = 0x7F;

constexpr unsigned operand_length(std::uint8_t long_opcode)
{
    return long_opcode - (first_long_opcode - 1U);
}

// Four FF bytes end a payload: read as an opcode, and before decoding, as raw bytes.
inline constexpr std::uint8_t end_marker_byte = 0xFF;
inline constexpr std::size_t end_marker_size = 4;

static_assert(record_block_size_at == record_block_offset_at + 4);
static_assert(record_retention_time_at >= record_block_size_at + 4);
static_assert(record_ms_level_code_at == record_retention_time_at + 4);
static_assert(record_opaque_at > record_ms_level_code_at);
static_assert(record_opaque_at + record_opaque_size <= index_record_size);
static_assert(first_short_point_opcode == last_delta_opcode + 1);
static_assert(first_long_opcode == last_short_point_opcode + 1);
static_assert(last_short_point_opcode - first_short_point_opcode == 123, "short intensities run 0 to 123");
static_assert((first_short_point_opcode & short_intensity_bits) == 0);
static_assert(operand_length(first_long_opcode) == 1 && operand_length(0xFF) == 4);
static_assert(end_marker_byte == 0xFF && operand_length(end_marker_byte) == end_marker_size,
              "the end marker reads as the widest opcode");

}  // namespace tarvok::raw::layout
