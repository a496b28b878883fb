// Summarises a sample, or dumps every spectrum as one JSON object per line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "melvane_core/spectrum_source.hpp"
#include "tarvok/reader.hpp"

namespace {

void print_json_string(std::string_view text)
{
    std::putchar('"');
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            std::printf("\\%c", c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            std::printf("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
            std::putchar(c);
        }
    }
    std::putchar('"');
}

// JSON has no spelling for NaN or the infinities.
void print_json_number(double value)
{
    if (std::isfinite(value)) {
        std::printf("%.17g", value);
    } else {
        std::printf("null");
    }
}

template <typename Values>
void print_json_array(const Values& values)
{
    std::putchar('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            std::putchar(',');
        }
        print_json_number(values[i]);
    }
    std::putchar(']');
}

void dump(const std::vector<melvane_core::SpectrumRecord>& spectra)
{
    for (const melvane_core::SpectrumRecord& s : spectra) {
        std::printf("{\"index\":%llu,\"scan_number\":%u,\"native_id\":", static_cast<unsigned long long>(s.index),
                    s.scan_number);
        print_json_string(s.native_id);
        std::printf(",\"ms_level\":%u,\"retention_time_sec\":", s.ms_level);
        print_json_number(s.retention_time_sec);
        std::printf(",\"mz\":");
        print_json_array(s.mz);
        std::printf(",\"intensity\":");
        print_json_array(s.intensity);
        std::printf("}\n");
    }
}

void summarise(const tarvok::Reader& reader, const std::vector<melvane_core::SpectrumRecord>& spectra)
{
    std::size_t ms1 = 0;
    std::size_t peaks = 0;
    double first_rt = spectra.front().retention_time_sec;
    double last_rt = first_rt;
    for (const melvane_core::SpectrumRecord& s : spectra) {
        ms1 += s.ms_level == 1 ? 1 : 0;
        peaks += s.mz.size();
        first_rt = std::min(first_rt, s.retention_time_sec);
        last_rt = std::max(last_rt, s.retention_time_sec);
    }
    std::printf("sample        %s\n", reader.sample_name.c_str());
    std::printf("scan file     %s (%llu bytes)\n", reader.scan_path.c_str(),
                static_cast<unsigned long long>(reader.scan_file_len));
    std::printf("scans         %zu (MS1 %zu, MS2 %zu)\n", spectra.size(), ms1, spectra.size() - ms1);
    std::printf("retention     %.2f s to %.2f s\n", first_rt, last_rt);
    std::printf("total peaks   %zu\n", peaks);
    const std::size_t shown = std::min<std::size_t>(spectra.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) {
        const melvane_core::SpectrumRecord& s = spectra[i];
        std::printf("  %s  MS%u  RT %.2fs  %zu peaks", s.native_id.c_str(), s.ms_level, s.retention_time_sec,
                    s.mz.size());
        if (!s.mz.empty()) {
            std::printf("  m/z %.0f..%.0f", s.mz.front(), s.mz.back());
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const bool dumping = argc == 3 && std::strcmp(argv[1], "--dump") == 0;
    if (argc != 2 && !dumping) {
        std::fprintf(stderr, "usage: tarvok-summary [--dump] SAMPLE.wiff\n");
        return 2;
    }
    std::expected<tarvok::Reader, tarvok::Error> reader = tarvok::Reader::open(argv[argc - 1]);
    if (!reader) {
        std::fprintf(stderr, "%s\n", reader.error().display().c_str());
        return 1;
    }
    const std::vector<melvane_core::SpectrumRecord> spectra = melvane_core::collect_spectra(reader->iter_spectra());
    if (dumping) {
        dump(spectra);
    } else {
        summarise(*reader, spectra);
    }
    return 0;
}
