// Differential: decode_payload against the plain reading of the opcode rules.
#include <cstddef>
#include <cstdint>
#include <span>

#include "compare.hpp"
#include "reference_rules.hpp"
#include "stderr_trap.hpp"
#include "tarvok/raw/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    const std::span<const std::uint8_t> bytes(data, size);
    fuzz::expect_same_points("decode_payload", tarvok::raw::decode_payload(bytes), fuzz::reference::decode(bytes));
    trap.check();
    return 0;
}
