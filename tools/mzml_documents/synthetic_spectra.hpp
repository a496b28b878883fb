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

// A profile-like spectrum of the given length, the same for the same seed.
melvane_core::SpectrumRecord random_spectrum(std::uint64_t seed, std::uint32_t scan_number, std::size_t peaks);

}  // namespace mzml_documents
