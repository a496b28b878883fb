#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

#include "oracle/oracle.hpp"
#include "payload_cases.hpp"
#include "payload_kernels.hpp"

namespace decode_test {
namespace {

using tarvok::raw::PayloadKernels;
using tarvok::raw::ScanPoint;
using Span = std::span<const std::uint8_t>;

struct KernelSet {
    std::string name;
    const PayloadKernels* kernels;
};

std::vector<KernelSet> kernel_sets()
{
    return {{"portable", &tarvok::raw::portable_kernels()},
            {"avx2", tarvok::raw::avx2_kernels()},
            {"avx512", tarvok::raw::avx512_kernels()}};
}

std::string hex(Span bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < 96; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", bytes[i]);
        text += digits;
    }
    return bytes.size() > 96 ? text + "..." : text;
}

// The room the points output asks for: a slot for each byte with the high
// bit set, and the slack.
std::vector<ScanPoint> point_room(Span bytes)
{
    const auto bound = static_cast<std::size_t>(std::ranges::count_if(bytes, [](std::uint8_t b) { return b >= 0x80; }));
    return std::vector<ScanPoint>(bound + tarvok::raw::decode_slack);
}

// Both outputs of a kernel set and the terminator search against the oracle;
// the message names the first difference.
testing::AssertionResult agrees_with_oracle(const PayloadKernels& kernels, Span bytes)
{
    const std::vector<ScanPoint> expected = oracle::decode(bytes).points;
    std::vector<ScanPoint> points = point_room(bytes);
    points.resize(kernels.points(bytes, points.data()));
    for (std::size_t k = 0; k < std::max(points.size(), expected.size()); ++k) {
        if (k >= points.size() || k >= expected.size() || points[k] != expected[k]) {
            return testing::AssertionFailure() << "points differ at " << k << " (" << points.size() << " vs "
                                               << expected.size() << ") in " << hex(bytes);
        }
    }

    oracle::Peaks peaks;
    peaks.mz.resize(bytes.size() + tarvok::raw::decode_slack);
    peaks.intensity.resize(bytes.size() + tarvok::raw::decode_slack);
    const std::size_t count = kernels.peaks(bytes, peaks.mz.data(), peaks.intensity.data());
    peaks.mz.resize(count);
    peaks.intensity.resize(count);
    if (peaks != oracle::peaks(expected)) {
        return testing::AssertionFailure() << "peaks differ in " << hex(bytes);
    }

    const std::size_t length = tarvok::raw::payload_length(bytes);
    if (length != oracle::payload(bytes).size()) {
        return testing::AssertionFailure() << "payload length " << length << " instead of "
                                           << oracle::payload(bytes).size() << " in " << hex(bytes);
    }
    return testing::AssertionSuccess();
}

void PrintTo(const KernelSet& set, std::ostream* out)
{
    *out << set.name;
}

class Kernels : public testing::TestWithParam<KernelSet> {
protected:
    void SetUp() override
    {
        if (GetParam().kernels == nullptr) {
            GTEST_SKIP() << "the processor lacks the instructions of " << GetParam().name;
        }
    }
    const PayloadKernels& kernels() const { return *GetParam().kernels; }
};

TEST_P(Kernels, AgreeOnRandomPayloadsOfEveryShape)
{
    for (const PayloadShape& shape : payload_shapes()) {
        for (std::uint64_t seed = 0; seed < 300; ++seed) {
            std::mt19937_64 random(seed);
            const std::size_t length = seed % 50 == 0 ? 20000 : random() % 1200;
            const Bytes bytes = shape.make(random, length);
            ASSERT_TRUE(agrees_with_oracle(kernels(), bytes)) << shape.name << " seed " << seed;
        }
    }
}

TEST_P(Kernels, AgreeAtEveryTruncationPoint)
{
    for (const PayloadShape& shape : payload_shapes()) {
        for (std::uint64_t seed = 0; seed < 4; ++seed) {
            std::mt19937_64 random(seed);
            const Bytes bytes = shape.make(random, seed == 0 ? 1500 : 300);
            for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
                ASSERT_TRUE(agrees_with_oracle(kernels(), Span(bytes).first(cut)))
                    << shape.name << " seed " << seed << " cut " << cut;
            }
        }
    }
}

// Operand and end-marker edges placed at every offset from a chunk boundary,
// with nothing, a little or a lot behind them.
TEST_P(Kernels, AgreeOnEdgePatternsAtEveryOffset)
{
    const std::vector<Bytes> patterns{
        {0xFF, 0xFF, 0xFF, 0xFF, 0x83},
        {0xFF, 0xFF, 0xFF, 0x00, 0x00},
        {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00},
        {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x84},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x85},
        {0xFC, 0xFC, 0x85, 0xFD, 0xFC, 0xFD, 0x86},
        {0xFE, 0xFF, 0xFE, 0xFD, 0x87, 0xFF, 0xFC, 0xFD, 0xFE, 0xFF, 0x88},
        {0xFC, 0x00, 0xFD, 0x00, 0x00, 0x80, 0xFE, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},
        {0xFF, 0x01, 0x02, 0x03},
        {0xFD, 0x01},
    };
    for (const Bytes& pattern : patterns) {
        for (std::size_t offset = 0; offset < 140; ++offset) {
            for (const std::size_t tail : {0, 1, 2, 3, 4, 5, 70}) {
                Bytes bytes;
                for (std::size_t i = 0; i < offset; ++i) {
                    bytes.push_back(i % 3 == 0 ? 0x85 : 0x05);
                }
                bytes.insert(bytes.end(), pattern.begin(), pattern.end());
                for (std::size_t i = 0; i < tail; ++i) {
                    bytes.push_back(i % 2 == 0 ? 0x07 : 0x8A);
                }
                ASSERT_TRUE(agrees_with_oracle(kernels(), bytes)) << "offset " << offset << " tail " << tail;
            }
        }
    }
}

// Each payload in an allocation of exactly its size, so that the address
// sanitizer sees any read past the end, as at a chunk's last byte.
TEST_P(Kernels, ReadNothingPastTheEnd)
{
    for (const std::uint8_t last : {0xFF, 0xFE, 0xFD, 0xFC, 0x85}) {
        for (std::size_t length = 1; length <= 200; ++length) {
            const auto exact = std::make_unique<std::uint8_t[]>(length);
            exact[length - 1] = last;
            ASSERT_TRUE(agrees_with_oracle(kernels(), Span(exact.get(), length)))
                << "length " << length << " last " << int{last};
        }
    }
}

TEST_P(Kernels, PositionWrapsModulo32Bits)
{
    // 127 * 33818640 + 15 = 2^32 - 1.
    for (const std::size_t lead : {0, 37}) {
        Bytes bytes(lead, 0x00);
        bytes.insert(bytes.end(), 33818640, 0x7F);
        const Bytes around_wrap{0x0F, 0x85, 0x02, 0x86, 0xFC, 0x90, 0x7F, 0xFD, 0x00, 0x01};
        bytes.insert(bytes.end(), around_wrap.begin(), around_wrap.end());
        ASSERT_TRUE(agrees_with_oracle(kernels(), bytes)) << "lead " << lead;

        std::vector<ScanPoint> points = point_room(bytes);
        points.resize(kernels().points(bytes, points.data()));
        const std::vector<ScanPoint> expected{{4294967295U, 5}, {1, 6}, {1, 0x90}, {128, 256}};
        EXPECT_EQ(points, expected);
    }
}

// Points of small and of 32-bit intensities while the position crosses 2^31,
// in a dense run or behind the most a chunk of deltas can add, at several
// offsets within a chunk.
TEST_P(Kernels, AgreeWhilePositionsCross2To31)
{
    for (const std::uint32_t short_of : {12000U, 40000U}) {
        for (const std::size_t lead : {0, 1, 31, 63}) {
            Bytes bytes(lead, 0x00);
            bytes.insert(bytes.end(), (0x80000000U - short_of) / 127U, 0x7F);
            for (std::size_t i = 0; i < 200; ++i) {
                bytes.insert(bytes.end(), {0x7F, 0x81});
                if (i % 7 == 0) {
                    bytes.insert(bytes.end(), {0xFF, 0x01, 0x00, 0x00, 0x80});
                }
            }
            for (std::size_t i = 0; i < 8; ++i) {
                bytes.insert(bytes.end(), 63, 0x7F);
                bytes.push_back(0x81);
            }
            ASSERT_TRUE(agrees_with_oracle(kernels(), bytes)) << "short of " << short_of << " lead " << lead;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, Kernels, testing::ValuesIn(kernel_sets()),
                         [](const testing::TestParamInfo<KernelSet>& info) { return info.param.name; });

// The set the library decodes with follows the build's kernel option.
TEST(KernelChoice, FastestSetUnlessThePortableOneIsForced)
{
#ifdef TARVOK_PORTABLE_KERNEL
    const PayloadKernels* expected = &tarvok::raw::portable_kernels();
#else
    const PayloadKernels* expected = tarvok::raw::avx512_kernels() != nullptr ? tarvok::raw::avx512_kernels()
                                     : tarvok::raw::avx2_kernels() != nullptr ? tarvok::raw::avx2_kernels()
                                                                              : &tarvok::raw::portable_kernels();
#endif
    EXPECT_EQ(&tarvok::raw::payload_kernels(), expected) << tarvok::raw::payload_kernels().name;
}

}  // namespace
}  // namespace decode_test
