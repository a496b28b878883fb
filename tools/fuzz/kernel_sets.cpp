#include "kernel_sets.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "compare.hpp"
#include "oracle/oracle.hpp"
#include "payload_kernels.hpp"
#include "report.hpp"

namespace fuzz {
namespace {

std::vector<const tarvok::raw::PayloadKernels*> running_sets()
{
    std::vector<const tarvok::raw::PayloadKernels*> sets{&tarvok::raw::portable_kernels()};
    for (const tarvok::raw::PayloadKernels* set : {tarvok::raw::avx2_kernels(), tarvok::raw::avx512_kernels()}) {
        if (set != nullptr) {
            sets.push_back(set);
        }
    }
    return sets;
}

}  // namespace

int announce_kernel_sets()
{
    std::printf("kernel sets: portable%s%s\n", tarvok::raw::avx2_kernels() != nullptr ? ", avx2" : "; avx2 skipped",
                tarvok::raw::avx512_kernels() != nullptr ? ", avx512" : "; avx512 skipped, the processor lacks it");
    return 0;
}

void expect_kernel_sets_agree(std::span<const std::uint8_t> payload)
{
    static const std::vector<const tarvok::raw::PayloadKernels*> sets = running_sets();
    const std::vector<tarvok::raw::ScanPoint> want = oracle::decode(payload).points;
    const oracle::Peaks want_peaks = oracle::peaks(want);
    // Room for a point per byte covers both outputs' needs.
    std::vector<tarvok::raw::ScanPoint> points(payload.size() + tarvok::raw::decode_slack);
    oracle::Peaks peaks;
    for (const tarvok::raw::PayloadKernels* set : sets) {
        points.resize(payload.size() + tarvok::raw::decode_slack);
        points.resize(set->points(payload, points.data()));
        expect_same_points(std::string(set->name) + " points", points, want);
        peaks.mz.resize(payload.size() + tarvok::raw::decode_slack);
        peaks.intensity.resize(peaks.mz.size());
        const std::size_t count = set->peaks(payload, peaks.mz.data(), peaks.intensity.data());
        peaks.mz.resize(count);
        peaks.intensity.resize(count);
        if (peaks != want_peaks) {
            fail(std::string(set->name) + " peaks: " + std::to_string(count) + " where the rules give " +
                 std::to_string(want_peaks.mz.size()) + ", or other values");
        }
    }
}

}  // namespace fuzz
