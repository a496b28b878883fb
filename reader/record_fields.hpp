#pragma once

#include <cstddef>
#include <string_view>

#include "melvane_core/spectrum_record.hpp"
#include "tarvok/raw/idx.hpp"

namespace tarvok {

// Every field of the spectrum at `position` except its peaks, written over
// whatever `into` held so that its storage is reused.
void fill_record_fields(melvane_core::SpectrumRecord& into, std::size_t position, const raw::IdxRecord& record,
                        std::string_view sample_name);

}  // namespace tarvok
