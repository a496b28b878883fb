// Reader::open and a full iteration over a fuzzed container and a fuzzed
// scan-data file. A failure must be a displayable Error; a success must give
// one spectrum per record, each equal to what the rules make of the scan
// bytes; no descriptor may stay open either way.
//
// Input: the scan-data file's length (2 bytes, little-endian; cut to what
// follows), the scan-data file, then the container.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "melvane_core/spectrum_source.hpp"
#include "oracle/oracle.hpp"
#include "report.hpp"
#include "scratch_dir.hpp"
#include "stderr_trap.hpp"
#include "tarvok/reader.hpp"

namespace {

using Bytes = std::span<const std::uint8_t>;

std::size_t open_descriptors()
{
    std::size_t count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count;
}

void expect_displayable(const tarvok::Error& error)
{
    const std::string text = error.display();
    const std::string_view prefix = error.is_io() ? "I/O error: " : "parse error: ";
    if (!text.starts_with(prefix) || text.size() == prefix.size()) {
        fuzz::fail("Reader::open failed with an unexplained error: '" + text + "'");
    }
}

bool same_time(double got, double want)
{
    return (std::isnan(got) && std::isnan(want)) || got == want;
}

void expect_spectrum(const melvane_core::SpectrumRecord& spectrum, std::size_t i, const tarvok::raw::IdxRecord& record,
                     std::uint64_t end_offset, Bytes scan)
{
    const std::string at = "spectrum " + std::to_string(i) + ": ";
    if (spectrum.index != i || spectrum.scan_number != i + 1 ||
        spectrum.native_id != "file=sample scan=" + std::to_string(i + 1)) {
        fuzz::fail(at + "wrong index, scan number or native id '" + spectrum.native_id + "'");
    }
    if (spectrum.ms_level != record.ms_level || spectrum.msn_info.has_value() != (record.ms_level >= 2) ||
        !same_time(spectrum.retention_time_sec, static_cast<double>(record.retention_time_min) * 60.0)) {
        fuzz::fail(at + "wrong MS level, MSn data or retention time");
    }
    const oracle::Peaks want = oracle::peaks(oracle::read_block(scan, record.block_offset, end_offset));
    if (spectrum.mz != want.mz || spectrum.intensity != want.intensity) {
        fuzz::fail(at + std::to_string(spectrum.mz.size()) + " m/z and " + std::to_string(spectrum.intensity.size()) +
                   " intensity values where the rules give " + std::to_string(want.mz.size()) + " peaks, or other values");
    }
}

void expect_sample(const tarvok::Reader& reader, const std::string& scan_path, Bytes scan)
{
    if (reader.sample_name != "sample" || reader.scan_path != scan_path || reader.scan_file_len != scan.size() ||
        reader.records.empty()) {
        fuzz::fail("Reader::open gave a wrong name, scan path, length or no records");
    }
    const std::vector<melvane_core::SpectrumRecord> spectra = melvane_core::collect_spectra(reader.iter_spectra());
    if (spectra.size() != reader.records.size()) {
        fuzz::fail(std::to_string(spectra.size()) + " spectra for " + std::to_string(reader.records.size()) +
                   " records");
    }
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        const std::uint64_t end_offset =
            i + 1 < reader.records.size() ? reader.records[i + 1].block_offset : reader.scan_file_len;
        expect_spectrum(spectra[i], i, reader.records[i], end_offset, scan);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    static const fuzz::ScratchDir dir;
    static const std::string wiff_path = dir.path("sample.wiff");
    static const std::string scan_path = dir.path("sample.wiff.scan");
    const Bytes input(data, size);
    if (input.size() < 2) {
        return -1;
    }
    const std::size_t stated = input[0] | static_cast<std::size_t>(input[1]) << 8U;
    const Bytes rest = input.subspan(2);
    const Bytes scan = rest.first(std::min(stated, rest.size()));
    const Bytes container = rest.subspan(scan.size());
    dir.write("sample.wiff", container);
    dir.write("sample.wiff.scan", scan);

    const std::size_t descriptors = open_descriptors();
    {
        const auto reader = tarvok::Reader::open(wiff_path);
        if (reader) {
            expect_sample(*reader, scan_path, scan);
        } else {
            expect_displayable(reader.error());
        }
    }
    if (open_descriptors() != descriptors) {
        fuzz::fail("a descriptor stayed open after Reader::open and the iteration");
    }
    trap.check();
    return 0;
}
