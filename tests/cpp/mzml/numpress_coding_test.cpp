#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numpress_coding.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct LinearCase {
    const char* name;
    std::vector<double> values;
    bool coded;
};

class LinearCoding : public testing::TestWithParam<LinearCase> {};

// The coder's own decoding decides: these cases are where a range check
// alone would go wrong or where the library would misbehave.
TEST_P(LinearCoding, OnlyWhatDecodesExactly)
{
    mzml::NumpressCoder coder;
    std::vector<unsigned char> coded;
    EXPECT_EQ(coder.linear(GetParam().values, coded), GetParam().coded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinearCoding,
    testing::Values(LinearCase{"whole", {100.0, 101.0, 105.0, 4294967295.0 - 7, 4294967295.0}, false},
                    LinearCase{"whole_steady", {100.0, 101.0, 103.0, 104.0}, true},
                    LinearCase{"one_value_at_the_top", {4294967295.0}, true},
                    // The first two values go in 32 bits: past that the library truncates them silently.
                    LinearCase{"first_value_past_32_bits", {4294967296.0, 4294967297.0}, false},
                    LinearCase{"halves_past_32_bits", {2147483648.5}, false},
                    LinearCase{"quarters", {0.25, 0.5, 1.75}, true},
                    LinearCase{"tenth", {0.1}, false},
                    LinearCase{"negative", {-1.0, 0.0}, false},
                    LinearCase{"negative_zero", {-0.0}, false},
                    LinearCase{"nan", {1.0, nan}, false},
                    LinearCase{"infinity", {inf}, false},
                    LinearCase{"denormal", {std::numeric_limits<double>::denorm_min()}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct IntegerCase {
    const char* name;
    std::vector<float> values;
    bool coded;
};

class IntegerCoding : public testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerCoding, OnlyWhatDecodesExactly)
{
    mzml::NumpressCoder coder;
    std::vector<unsigned char> coded;
    EXPECT_EQ(coder.integers(GetParam().values, coded), GetParam().coded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerCoding,
    testing::Values(IntegerCase{"counts", {0.0F, 1.0F, 123.0F, 16777216.0F}, true},
                    IntegerCase{"largest_float_below_2_31", {2147483520.0F}, true},
                    IntegerCase{"two_to_the_31", {2147483648.0F}, false},
                    IntegerCase{"two_to_the_32", {4294967296.0F}, false},
                    IntegerCase{"half", {0.5F}, false},
                    IntegerCase{"negative", {-1.0F}, false},
                    IntegerCase{"negative_zero", {-0.0F}, false},
                    IntegerCase{"nan", {std::nanf("")}, false},
                    IntegerCase{"infinity", {std::numeric_limits<float>::infinity()}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Reused buffers: a coded array after a refused one is still the right one.
TEST(NumpressCoder, CodesAfterARefusal)
{
    mzml::NumpressCoder coder;
    std::vector<unsigned char> first;
    std::vector<unsigned char> second;
    ASSERT_FALSE(coder.linear(std::vector<double>{0.1, 0.2}, first));
    ASSERT_TRUE(coder.linear(std::vector<double>{10.0, 20.0, 30.0}, second));
    std::vector<unsigned char> fresh;
    ASSERT_TRUE(mzml::NumpressCoder().linear(std::vector<double>{10.0, 20.0, 30.0}, fresh));
    EXPECT_EQ(second, fresh);
}

}  // namespace
