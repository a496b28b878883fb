#include "numpress_coding.hpp"

#include <libmsnumpress/MSNumpress.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

namespace mzml {
namespace {

namespace np = ms::numpress::MSNumpress;

// Below this, x + 0.5 is exact and the library's rounding gives x back; the
// library converts without a check before its own, so nothing larger goes in.
constexpr double integer_bound = 0x1p52;
// More fractional bits leave room below integer_bound only for m/z under 4096.
constexpr int max_fraction_bits = 40;

// Binary digits after the point that v needs; v finite.
int fraction_bits(double v)
{
    if (v == std::trunc(v)) {
        return 0;
    }
    int exponent = 0;
    const double mantissa = std::frexp(std::fabs(v), &exponent);
    const auto digits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    return 53 - exponent - std::countr_zero(digits);
}

std::optional<double> exact_fixed_point(std::span<const double> values)
{
    int bits = 0;
    double largest = 0.0;
    for (const double v : values) {
        // The encoder rounds x + 0.5 towards zero: wrong below zero and for -0.
        if (!std::isfinite(v) || std::signbit(v)) {
            return std::nullopt;
        }
        bits = std::max(bits, fraction_bits(v));
        if (bits > max_fraction_bits) {
            return std::nullopt;
        }
        largest = std::max(largest, v);
    }
    // Scaling by a power of two keeps the order of non-negative values: the largest bounds them all.
    const double fixed_point = std::ldexp(1.0, bits);
    return largest * fixed_point < integer_bound ? std::optional(fixed_point) : std::nullopt;
}

bool same_bits(std::span<const double> a, std::span<const double> b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

}  // namespace

bool NumpressCoder::linear(std::span<const double> values, std::vector<unsigned char>& coded)
{
    const std::optional<double> fixed_point = exact_fixed_point(values);
    if (!fixed_point) {
        return false;
    }
    // The library reports values it cannot code by throwing a C string.
    try {
        coded.resize(8 + values.size() * 5);
        coded.resize(np::encodeLinear(values.data(), values.size(), coded.data(), *fixed_point));
        // The decoder's bound on what it gives, from the header.
        decoded_.resize((coded.size() - 8) * 2);
        decoded_.resize(np::decodeLinear(coded.data(), coded.size(), decoded_.data()));
    } catch (const char*) {
        return false;
    }
    return same_bits(values, decoded_);
}

bool NumpressCoder::integers(std::span<const float> values, std::vector<unsigned char>& coded)
{
    widened_.assign(values.begin(), values.end());
    const auto whole_count = [](double v) { return std::isfinite(v) && !std::signbit(v) && v == std::trunc(v); };
    if (!std::ranges::all_of(widened_, whole_count)) {
        return false;
    }
    try {
        coded.resize(values.size() * 5);
        coded.resize(np::encodePic(widened_.data(), widened_.size(), coded.data()));
        decoded_.resize(coded.size() * 2);
        decoded_.resize(np::decodePic(coded.data(), coded.size(), decoded_.data()));
    } catch (const char*) {
        return false;
    }
    return same_bits(widened_, decoded_);
}

}  // namespace mzml
