#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace mzml {

// MS-Numpress forms of the peak arrays, given only where the reference
// decoder gives back every value bit for bit: each array is encoded, decoded
// again and compared, and false means it must be written as it is.
class NumpressCoder {
public:
    // Linear prediction at the smallest power-of-two fixed point that makes
    // every value an integer (1 for whole m/z values).
    bool linear(std::span<const double> values, std::vector<unsigned char>& coded);
    // Positive-integer coding of counts.
    bool integers(std::span<const float> values, std::vector<unsigned char>& coded);

private:
    std::vector<double> widened_;
    std::vector<double> decoded_;
};

}  // namespace mzml
