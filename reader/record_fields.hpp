#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/raw/idx.hpp"

namespace tarvok {

// Every field of the spectrum at `position` except its peaks, written over
// whatever `into` held so that its storage is reused.
void fill_record_fields(melvane_core::SpectrumRecord& into, std::size_t position, const raw::IdxRecord& record,
                        std::string_view sample_name);

// Where the window of the record at `position` ends: at the next record's
// block offset, or at the end of the scan-data file for the last record.
inline std::uint64_t end_offset_of(const std::vector<raw::IdxRecord>& records, std::size_t position,
                                   std::uint64_t scan_file_len)
{
    return position + 1 < records.size() ? records[position + 1].block_offset : scan_file_len;
}

}  // namespace tarvok
