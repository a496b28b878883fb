#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "melvane_core/spectrum_source.hpp"
#include "tarvok/error.hpp"
#include "tarvok/export.hpp"
#include "tarvok/raw/idx.hpp"

namespace tarvok {

// One opened sample. Holds no open file: the scan-data file is opened again
// for every block read.
class TARVOK_API Reader final : public melvane_core::SpectrumSource {
public:
    std::string sample_name;
    std::string scan_path;
    std::vector<raw::IdxRecord> records;  // never empty
    std::uint64_t scan_file_len = 0;

    static std::expected<Reader, Error> open(std::string_view path);

    std::unique_ptr<melvane_core::SpectrumIterator> iter_spectra() const override;
};

}  // namespace tarvok
