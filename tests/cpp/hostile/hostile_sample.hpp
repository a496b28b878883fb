#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "tarvok/reader.hpp"

namespace hostile {

using fixtures::Bytes;

// Two blocks, A at 0 (payload 05 83 02 84) and B at 64 (payload 0A FC C8),
// each ended by FF FF FF FF: 127 bytes.
inline Bytes two_blocks()
{
    return fixtures::concat({fixtures::block({0x05, 0x83, 0x02, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}),
                             fixtures::block({0x0A, 0xFC, 0xC8, 0xFF, 0xFF, 0xFF, 0xFF})});
}

inline Bytes read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Empty when the error displays with its kind's prefix and a reason.
inline std::string expect_displayable(const tarvok::Error& error)
{
    const std::string text = error.display();
    const std::string_view prefix = error.is_io() ? "I/O error: " : "parse error: ";
    if (!text.starts_with(prefix) || text.size() == prefix.size()) {
        return "unclear error '" + text + "'";
    }
    return {};
}

// Opens the sample and drains its spectra; the total of peaks, or a failure
// text when the open fails.
struct Drained {
    std::size_t spectra = 0;
    std::size_t peaks = 0;
    std::string failure;
};

inline Drained open_and_drain(const std::string& wiff)
{
    Drained drained;
    const auto reader = tarvok::Reader::open(wiff);
    if (!reader) {
        drained.failure = reader.error().display();
        return drained;
    }
    std::unique_ptr<melvane_core::SpectrumIterator> spectra = reader->iter_spectra();
    while (std::optional<melvane_core::SpectrumRecord> spectrum = spectra->next()) {
        ++drained.spectra;
        drained.peaks += spectrum->mz.size();
        if (spectrum->mz.size() != spectrum->intensity.size()) {
            drained.failure = "m/z and intensity lists of different lengths";
        }
    }
    return drained;
}

}  // namespace hostile
