#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/error.hpp"
#include "tarvok/export.hpp"
#include "tarvok/reader.hpp"

namespace tarvok {

// Why one scan's block cannot be trusted to hold all of its data.
struct BlockDamage {
    std::uint32_t scan_number;  // 1-based, as SpectrumRecord::scan_number
    // One of: "block window ends before it starts (index records out of order
    // or repeated)", "block starts at or past the end of the scan-data file",
    // "block has no terminator FF FF FF FF", "scan-data file is longer than
    // 32-bit block offsets can reach".
    std::string reason;
};

// "scan N: <reason>", as messages and the refusal's Error show it.
TARVOK_API std::string damage_text(const BlockDamage& damage);

// What StrictSpectra does with a damaged block: report it as an Error, or
// give the spectrum iter_spectra gives and report the damage beside it.
enum class DamagePolicy { refuse, salvage };

// What the index alone says of a record, the same as its spectrum will say.
struct IndexFacts {
    std::uint32_t scan_number = 0;
    std::uint32_t ms_level = 0;
    double retention_time_sec = 0.0;
};

// A sample's spectra in index order, for tools that must not lose data: the
// same records as iter_spectra, but a block that cannot be read, or whose
// window cannot hold the whole block, is reported instead of becoming a
// spectrum with fewer peaks. A window is read to its end or the file's, short
// reads or not. The scan-data file is opened once, at the first block that
// needs it, and read with positioned reads.
class TARVOK_API StrictSpectra {
public:
    explicit StrictSpectra(Reader reader, DamagePolicy policy = DamagePolicy::refuse);

    // Fills `into` with the next spectrum, reusing its storage: true when it
    // was filled, false once every record has been given. A damaged block is,
    // under refuse, the Parse error "scan N: <reason>"; under salvage the
    // spectrum as iter_spectra gives it (what decodes, possibly nothing).
    // After an Error the failed record counts as given and the next call goes
    // on behind it.
    std::expected<bool, Error> next(melvane_core::SpectrumRecord& into);

    // The damage of the scan the last next() gave or refused; empty when its
    // block was sound, failed to read, or there was no scan left.
    const std::optional<BlockDamage>& damage() const;
    // Passes over the next record without reading its block; false once
    // every record has been given.
    bool skip();

    // Of the record at `position`, below size(), without reading its block.
    IndexFacts index_facts(std::size_t position) const;

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
