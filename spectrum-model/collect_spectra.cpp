#include "melvane_core/spectrum_source.hpp"

namespace melvane_core {

std::vector<SpectrumRecord> collect_spectra(std::unique_ptr<SpectrumIterator> iterator)
{
    std::vector<SpectrumRecord> records;
    std::optional<SpectrumRecord> record = iterator->next();
    if (!record) {
        return records;
    }
    // With an exact hint the storage is allocated once.
    records.reserve(iterator->size_hint().lower + 1);
    records.push_back(std::move(*record));
    while ((record = iterator->next())) {
        if (records.size() == records.capacity()) {
            records.reserve(records.size() + iterator->size_hint().lower + 1);
        }
        records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace melvane_core
