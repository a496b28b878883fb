#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

// Writes synthetic samples: the CFB container with its index stream and the
// companion scan-data file, either from exact bytes or as a generated run.
namespace sample_writer {

struct IndexEntry {
    std::uint32_t block_offset = 0;
    std::uint32_t block_size = 0;
    float retention_time_min = 0.0F;
    std::uint8_t ms_level_code = 1;
    std::array<std::uint8_t, 16> opaque{};
};

// Index stream bytes: 32-byte header (zeros), one 54-byte record per entry
// (unread bytes zero), then `trailing` zero bytes.
std::vector<std::uint8_t> encode_index(std::span<const IndexEntry> entries, std::size_t trailing = 0);

// `path` is '/'-separated from the root, e.g. "SampleSubtree/Sample1/Idx".
struct Stream {
    std::string path;
    std::vector<std::uint8_t> bytes;
};

// Writes a CFB container (version 3, 512-byte sectors) holding exactly these
// streams, creating storages as needed; a storage shared by several paths is
// created once. Refuses empty names, names longer than 31 UTF-16 units,
// sibling names that differ only in ASCII case, and a path used twice or as
// both stream and storage.
std::expected<void, std::string> write_container(const std::string& path, std::span<const Stream> streams);

std::expected<void, std::string> write_file(const std::string& path, std::span<const std::uint8_t> bytes);

// `wiff_path` holds the single stream SampleSubtree/Sample1/Idx = idx_stream;
// `wiff_path + ".scan"` holds scan_bytes.
std::expected<void, std::string> write_sample(const std::string& wiff_path,
                                              std::span<const std::uint8_t> idx_stream,
                                              std::span<const std::uint8_t> scan_bytes);

struct Point {
    std::uint32_t position;
    std::uint32_t intensity;
};

// Shortest opcode encoding of points in order (positions non-decreasing):
// deltas as bytes 0x00-0x7F (several for a large step), intensities up to 123
// as one byte 0x80 + v, larger ones as FC/FD/FE/FF with the shortest operand.
// No terminator is appended, and nothing stops the operands from forming
// FF FF FF FF: callers that need a clean payload choose their intensities.
std::vector<std::uint8_t> encode_payload(std::span<const Point> points);

struct RunOptions {
    std::uint32_t scans = 20000;
    std::uint64_t seed = 1;
    double minutes = 60.0;
};

struct Run {
    std::vector<IndexEntry> index;
    std::vector<std::uint8_t> scan_bytes;
};

// A deterministic LC-MS run for a seed: cycles of one MS1 and ten MS2 scans,
// retention times rising over `minutes`, contiguous blocks (56-byte header,
// payload free of FF FF FF FF, terminator). Stops early rather than place a
// block beyond the reach of 32-bit offsets.
Run make_run(const RunOptions& options);

// make_run, then write_sample; fails if the run had to stop early.
std::expected<void, std::string> write_run(const std::string& wiff_path, const RunOptions& options);

}  // namespace sample_writer
