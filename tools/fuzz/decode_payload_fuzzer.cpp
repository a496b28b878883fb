// Differential: the payload decoders against the plain reading of the opcode
// rules: decode_payload, every kernel set's two outputs, the terminator
// search and the window-to-peaks step that iteration uses.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "block_peaks.hpp"
#include "compare.hpp"
#include "kernel_sets.hpp"
#include "oracle/oracle.hpp"
#include "payload_kernels.hpp"
#include "report.hpp"
#include "stderr_trap.hpp"
#include "tarvok/raw/scan.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return fuzz::announce_kernel_sets();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    static tarvok::raw::BlockScratch scratch;
    const std::span<const std::uint8_t> bytes(data, size);
    fuzz::expect_same_points("decode_payload", tarvok::raw::decode_payload(bytes), oracle::decode(bytes).points);
    fuzz::expect_kernel_sets_agree(bytes);

    const std::size_t length = tarvok::raw::payload_length(bytes);
    if (length != oracle::payload(bytes).size()) {
        fuzz::fail("payload_length gives " + std::to_string(length) + " where the rules give " +
                   std::to_string(oracle::payload(bytes).size()));
    }
    oracle::Peaks peaks;
    tarvok::raw::decode_block_peaks(bytes, scratch, peaks.mz, peaks.intensity);
    if (peaks != oracle::peaks(oracle::decode(oracle::payload(bytes)).points)) {
        fuzz::fail("decode_block_peaks differs from the rules");
    }
    trap.check();
    return 0;
}
