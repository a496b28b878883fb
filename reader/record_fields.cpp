#include "record_fields.hpp"

#include <charconv>

namespace tarvok {

void fill_record_fields(melvane_core::SpectrumRecord& into, std::size_t position, const raw::IdxRecord& record,
                        std::string_view sample_name)
{
    into.index = position;
    into.scan_number = scan_number_at(position);

    char digits[24];
    const auto [end, ignored] = std::to_chars(digits, digits + sizeof digits, position + 1);
    into.native_id.assign("file=").append(sample_name).append(" scan=").append(digits, end);

    into.ms_level = record.ms_level;
    into.retention_time_sec = retention_time_sec_of(record);
    if (record.ms_level >= 2) {
        std::string ms1_ref = into.msn_info && into.msn_info->ms1_ref ? std::move(*into.msn_info->ms1_ref)
                                                                      : std::string();
        melvane_core::MsnInfo& msn = into.msn_info.emplace();
        msn.ms1_ref = std::move(ms1_ref.assign("file=").append(sample_name).append(" ms1ref=unknown"));
        msn.msn_byte_1 = 0;
        msn.msn_byte_2 = 255;
        msn.msn_byte_3 = 255;
    } else {
        into.msn_info.reset();
    }
    into.aux_value_1.reset();
    into.aux_value_2.reset();
    into.aux_value_3.reset();
    into.aux_value_4.reset();
    into.aux_value_5.reset();
    into.aux_value_6.reset();
    into.aux_value_7.reset();
    into.aux_text.reset();
    into.aux_list.reset();
    into.code_1 = 2;
    into.code_2 = 1;
    into.code_3 = 3;
}

}  // namespace tarvok
