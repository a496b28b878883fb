#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Payload generators for the differential tests: realistic mixes and the
// shapes that stress one part of a decoder.
namespace decode_test {

using Bytes = std::vector<std::uint8_t>;

struct PayloadShape {
    std::string name;
    Bytes (*make)(std::mt19937_64& random, std::size_t length);
};

const std::vector<PayloadShape>& payload_shapes();

}  // namespace decode_test
