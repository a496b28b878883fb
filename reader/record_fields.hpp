#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/raw/idx.hpp"

namespace tarvok {

// The rules for the fields the index alone gives, for filters that look
// ahead of the blocks.
inline std::uint32_t scan_number_at(std::size_t position)
{
    return static_cast<std::uint32_t>(position + 1);
}

inline double retention_time_sec_of(const raw::IdxRecord& record)
{
    return static_cast<double>(record.retention_time_min) * 60.0;
}

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
