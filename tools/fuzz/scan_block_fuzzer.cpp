// Differential: read_scan_block and read_block_peaks on a file of fuzzed bytes
// and a fuzzed window against the window, cut and decode rules applied to the
// bytes in memory.
//
// Input: start offset (4 bytes, little-endian), end offset (4 bytes), then
// the scan-data file. The offsets are 32-bit as the index stores them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "block_peaks.hpp"
#include "compare.hpp"
#include "oracle/oracle.hpp"
#include "report.hpp"
#include "scratch_dir.hpp"
#include "stderr_trap.hpp"
#include "tarvok/raw/scan.hpp"

namespace {

std::uint32_t offset_at(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8U |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16U | static_cast<std::uint32_t>(bytes[at + 3]) << 24U;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    static const fuzz::ScratchDir dir;
    static const std::string scan_path = dir.path("block.wiff.scan");
    const std::span<const std::uint8_t> input(data, size);
    if (input.size() < 8) {
        return -1;
    }
    const std::uint64_t start = offset_at(input, 0);
    const std::uint64_t end = offset_at(input, 4);
    const std::span<const std::uint8_t> file = input.subspan(8);
    dir.write("block.wiff.scan", file);

    const auto points = tarvok::raw::read_scan_block(scan_path, start, end);
    if (!points) {
        fuzz::fail("read_scan_block failed on a readable file: " + points.error().display());
    }
    const std::vector<tarvok::raw::ScanPoint> want = oracle::read_block(file, start, end);
    fuzz::expect_same_points("read_scan_block", *points, want);

    static tarvok::raw::BlockScratch scratch;
    oracle::Peaks peaks;
    if (!tarvok::raw::read_block_peaks(scan_path, start, end, scratch, peaks.mz, peaks.intensity)) {
        fuzz::fail("read_block_peaks failed on a readable file");
    }
    if (peaks != oracle::peaks(want)) {
        fuzz::fail("read_block_peaks differs from the rules");
    }
    trap.check();
    return 0;
}
