#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace melvane_core {

// Data that exists only for spectra of MS level 2 and above.
struct MsnInfo {
    std::optional<std::string> ms1_ref;
    std::optional<double> msn_value_1;
    std::optional<double> msn_value_2;
    std::optional<double> msn_value_3;
    std::optional<double> msn_value_4;
    std::optional<double> msn_value_5;
    std::optional<float> msn_small_value;
    std::uint8_t msn_byte_1 = 0;
    std::uint8_t msn_byte_2 = 0;
    std::uint8_t msn_byte_3 = 0;
};

// One spectrum. Move-only: its arrays change hands, they are never duplicated.
struct SpectrumRecord {
    std::uint64_t index = 0;
    std::uint32_t scan_number = 0;
    std::string native_id;
    std::uint32_t ms_level = 0;
    double retention_time_sec = 0.0;
    std::vector<double> mz;
    std::vector<float> intensity;
    std::optional<MsnInfo> msn_info;
    std::optional<double> aux_value_1;
    std::optional<double> aux_value_2;
    std::optional<double> aux_value_3;
    std::optional<double> aux_value_4;
    std::optional<double> aux_value_5;
    std::optional<double> aux_value_6;
    std::optional<double> aux_value_7;
    std::optional<std::string> aux_text;
    std::optional<std::vector<std::int32_t>> aux_list;
    std::uint8_t code_1 = 0;
    std::uint8_t code_2 = 0;
    std::uint8_t code_3 = 0;

    SpectrumRecord() = default;
    SpectrumRecord(SpectrumRecord&&) noexcept = default;
    SpectrumRecord& operator=(SpectrumRecord&&) noexcept = default;
    SpectrumRecord(const SpectrumRecord&) = delete;
    SpectrumRecord& operator=(const SpectrumRecord&) = delete;
    ~SpectrumRecord() = default;
};

}  // namespace melvane_core
