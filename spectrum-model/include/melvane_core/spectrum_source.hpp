#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "melvane_core/export.hpp"
#include "melvane_core/spectrum_record.hpp"

namespace melvane_core {

// Bounds on the number of records an iterator has still to give.
struct SizeHint {
    std::size_t lower = 0;
    std::optional<std::size_t> upper;

    friend bool operator==(const SizeHint&, const SizeHint&) = default;
};

// An owned, single-pass sequence of records.
class MELVANE_CORE_API SpectrumIterator {
public:
    virtual ~SpectrumIterator() = default;
    // The next record, moved out; absent once exhausted and on every later call.
    virtual std::optional<SpectrumRecord> next() = 0;
    virtual SizeHint size_hint() const = 0;

protected:
    SpectrumIterator() = default;
    SpectrumIterator(const SpectrumIterator&) = default;
    SpectrumIterator& operator=(const SpectrumIterator&) = default;
};

// Anything that yields spectra. The iterator it hands out holds its own
// copies of what it needs and outlives the source.
class MELVANE_CORE_API SpectrumSource {
public:
    virtual ~SpectrumSource() = default;
    virtual std::unique_ptr<SpectrumIterator> iter_spectra() const = 0;

protected:
    SpectrumSource() = default;
    SpectrumSource(const SpectrumSource&) = default;
    SpectrumSource(SpectrumSource&&) noexcept = default;
    SpectrumSource& operator=(const SpectrumSource&) = default;
    SpectrumSource& operator=(SpectrumSource&&) noexcept = default;
};

// Drains the iterator in order and releases it.
MELVANE_CORE_API std::vector<SpectrumRecord> collect_spectra(std::unique_ptr<SpectrumIterator> iterator);

}  // namespace melvane_core
