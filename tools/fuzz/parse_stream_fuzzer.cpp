// Differential: IdxRecord::parse_stream against the plain reading of the
// record layout, field by field, bit for bit.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "oracle/oracle.hpp"
#include "report.hpp"
#include "stderr_trap.hpp"
#include "tarvok/raw/idx.hpp"

namespace {

bool same_record(const tarvok::raw::IdxRecord& a, const tarvok::raw::IdxRecord& b)
{
    return a.block_offset == b.block_offset && a.block_size == b.block_size &&
           std::bit_cast<std::uint32_t>(a.retention_time_min) == std::bit_cast<std::uint32_t>(b.retention_time_min) &&
           a.ms_level == b.ms_level && a.opaque == b.opaque;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto got = tarvok::raw::IdxRecord::parse_stream(bytes);
    const oracle::ParsedIndex want = oracle::parse_index(bytes);
    if (!got) {
        const std::string expected = "parse error: " + want.error;
        if (want.error.empty() || got.error().display() != expected) {
            fuzz::fail("parse_stream failed with '" + got.error().display() + "' where the rules give " +
                       (want.error.empty() ? std::to_string(want.records.size()) + " records" : "'" + expected + "'"));
        }
    } else {
        if (!want.error.empty()) {
            fuzz::fail("parse_stream gave " + std::to_string(got->size()) + " records where the rules fail with '" +
                       want.error + "'");
        }
        if (got->size() != want.records.size()) {
            fuzz::fail("parse_stream gave " + std::to_string(got->size()) + " records instead of " +
                       std::to_string(want.records.size()));
        }
        for (std::size_t i = 0; i < got->size(); ++i) {
            if (!same_record((*got)[i], want.records[i])) {
                fuzz::fail("parse_stream record " + std::to_string(i) + " differs from the rules");
            }
        }
    }
    trap.check();
    return 0;
}
