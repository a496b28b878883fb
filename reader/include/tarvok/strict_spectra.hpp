#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/error.hpp"
#include "tarvok/export.hpp"
#include "tarvok/reader.hpp"

namespace tarvok {

// A sample's spectra in index order, for tools that must not lose data: the
// same records as iter_spectra, but a block that cannot be read is reported
// as its Error instead of becoming a spectrum without peaks. The scan-data
// file is opened once, at the first block that needs it, and read with
// positioned reads.
class TARVOK_API StrictSpectra {
public:
    explicit StrictSpectra(Reader reader);

    // Fills `into` with the next spectrum, reusing its storage: true when it
    // was filled, false once every record has been given. After an Error the
    // failed record counts as given and the next call goes on behind it.
    std::expected<bool, Error> next(melvane_core::SpectrumRecord& into);

    std::size_t size() const;
    std::size_t position() const;  // records given so far

    StrictSpectra(StrictSpectra&&) noexcept;
    StrictSpectra& operator=(StrictSpectra&&) noexcept;
    ~StrictSpectra();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tarvok
