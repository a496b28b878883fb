#include "payload_cases.hpp"

#include <iterator>

namespace decode_test {
namespace {

std::uint8_t byte_in(std::mt19937_64& random, unsigned low, unsigned high)
{
    return static_cast<std::uint8_t>(std::uniform_int_distribution<unsigned>(low, high)(random));
}

bool chance(std::mt19937_64& random, double p)
{
    return std::bernoulli_distribution(p)(random);
}

template <class Append>
Bytes build(std::size_t length, Append append)
{
    Bytes bytes;
    while (bytes.size() < length) {
        append(bytes);
    }
    bytes.resize(length);
    return bytes;
}

// Peaks as a writer would lay them out, including zero intensities and
// operands that hold FF bytes.
Bytes spectrum(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) {
        out.push_back(byte_in(random, 0, 0x7F));
        if (chance(random, 0.75)) {
            out.push_back(byte_in(random, 0x80, 0xFB));
            return;
        }
        const std::uint8_t opcode = byte_in(random, 0xFC, 0xFF);
        out.push_back(opcode);
        for (unsigned k = 0; k < opcode - 0xFBU; ++k) {
            out.push_back(chance(random, 0.1) ? 0 : byte_in(random, 0, 0xFF));
        }
    });
}

Bytes uniform(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) { out.push_back(byte_in(random, 0, 0xFF)); });
}

Bytes one_byte_opcodes(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) { out.push_back(byte_in(random, 0, 0xFB)); });
}

// Long opcodes with long-opcode bytes as operands.
Bytes long_opcodes(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) {
        out.push_back(chance(random, 0.6) ? byte_in(random, 0xFC, 0xFF) : byte_in(random, 0, 0xFF));
    });
}

// Every operand byte FF, next to one-byte opcodes and the odd end marker.
Bytes ff_operands(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) {
        if (chance(random, 0.3)) {
            out.push_back(byte_in(random, 0, 0xFB));
            return;
        }
        const std::uint8_t opcode = byte_in(random, 0xFC, 0xFF);
        out.push_back(opcode);
        out.insert(out.end(), opcode - 0xFBU, 0xFF);
    });
}

Bytes delta_runs(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) {
        out.insert(out.end(), byte_in(random, 1, 200), chance(random, 0.5) ? 0x7F : byte_in(random, 0, 0x7F));
        out.push_back(byte_in(random, 0x80, 0xFF));
    });
}

// Chunks of 64 one-byte opcodes, from no point to all points each: batches of
// points of any fullness follow one another.
Bytes point_density(std::mt19937_64& random, std::size_t length)
{
    return build(length, [&](Bytes& out) {
        static constexpr double densities[] = {0.0, 0.3, 0.8, 0.95, 1.0};
        const double density = densities[random() % std::size(densities)];
        for (int i = 0; i < 64; ++i) {
            out.push_back(chance(random, density) ? byte_in(random, 0x80, 0xFB) : byte_in(random, 0, 0x7F));
        }
    });
}

}  // namespace

const std::vector<PayloadShape>& payload_shapes()
{
    static const std::vector<PayloadShape> shapes{
        {"spectrum", spectrum},       {"uniform", uniform},         {"one_byte_opcodes", one_byte_opcodes},
        {"long_opcodes", long_opcodes}, {"ff_operands", ff_operands}, {"delta_runs", delta_runs},
        {"point_density", point_density},
    };
    return shapes;
}

}  // namespace decode_test
