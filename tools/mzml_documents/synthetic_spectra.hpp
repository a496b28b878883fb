#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "melvane_core/spectrum_record.hpp"

namespace mzml_documents {

// Spectra with every value the writer must carry exactly: empty spectra,
// non-finite and extreme retention times, m/z and intensities, one spectrum
// longer than the writer's buffer, MS1 and MS2, scan numbers with gaps.
std::vector<melvane_core::SpectrumRecord> edge_case_spectra();

// Spectra at the edges of what MS-Numpress codes exactly, one edge per
// spectrum: whole-number counts and positions as samples give them, counts
// near 2^31 and 2^32, jumps too large for linear prediction, fractions, signs,
// non-finite values, one peak and none.
std::vector<melvane_core::SpectrumRecord> numpress_edge_spectra();

// A profile-like spectrum of the given length, the same for the same seed.
melvane_core::SpectrumRecord random_spectrum(std::uint64_t seed, std::uint32_t scan_number, std::size_t peaks);

}  // namespace mzml_documents
