// Times each stage of opening a sample on its own and prints the medians as
// one JSON object; scripts/bench turns them into rates and ratios.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "oracle/oracle.hpp"
#include "payload_kernels.hpp"
#include "record_fields.hpp"
#include "scan_window.hpp"
#include "tarvok/raw/scan.hpp"
#include "tarvok/reader.hpp"
#include "timing.hpp"

namespace {

using Span = std::span<const std::uint8_t>;

struct Window {
    std::uint64_t start_offset;
    std::uint64_t end_offset;
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "tarvok-bench-sample: %s\n", message.c_str());
    return 1;
}

bool read_whole(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t filled = 0;
    ssize_t got = 0;
    while (filled < bytes.size() && (got = ::read(fd, bytes.data() + filled, bytes.size() - filled)) > 0) {
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return filled == bytes.size();
}

// The windows the iterator reads, and the payloads it decodes, cut from a copy
// of the whole file.
std::vector<Span> payloads_of(const std::vector<std::uint8_t>& scan, const std::vector<Window>& windows)
{
    std::vector<Span> payloads;
    for (const Window& window : windows) {
        payloads.push_back(oracle::payload(oracle::window(scan, window.start_offset, window.end_offset)));
    }
    return payloads;
}

long minor_faults()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Seconds to write `bytes` into memory the process has never used, as an
// open does with every list it keeps: each page faults once.
double fresh_write_seconds(std::size_t bytes)
{
    return bench::median_of(3, [&] {
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            std::abort();
        }
        const auto start = std::chrono::steady_clock::now();
        std::memset(memory, 1, bytes);
        const double seconds = bench::seconds_since(start);
        ::munmap(memory, bytes);
        return seconds;
    });
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return fail("usage: tarvok-bench-sample SAMPLE.wiff [REPETITIONS]");
    }
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const auto reader = tarvok::Reader::open(argv[1]);
    if (!reader) {
        return fail(reader.error().display());
    }
    std::vector<Window> windows;
    for (std::size_t i = 0; i < reader->records.size(); ++i) {
        windows.push_back(
            {reader->records[i].block_offset, tarvok::end_offset_of(reader->records, i, reader->scan_file_len)});
    }
    std::vector<std::uint8_t> scan(reader->scan_file_len);
    if (!read_whole(reader->scan_path, scan)) {
        return fail("cannot read " + reader->scan_path);
    }
    const std::vector<Span> payloads = payloads_of(scan, windows);
    std::size_t payload_bytes = 0;
    for (const Span payload : payloads) {
        payload_bytes += payload.size();
    }

    std::size_t simple_points = 0;
    std::size_t points = 0;
    // Decoding takes a fifth of the baseline's time: five passes make a
    // repetition of each last about as long, under the same load.
    constexpr int decode_passes = 5;
    const auto [simple_s, decode_passes_s] = bench::interleaved_medians(
        repetitions,
        [&] {
            simple_points = 0;
            for (const Span payload : payloads) {
                simple_points += oracle::decode(payload).points.size();
            }
        },
        [&] {
            for (int pass = 0; pass < decode_passes; ++pass) {
                points = 0;
                for (const Span payload : payloads) {
                    points += tarvok::raw::decode_payload(payload).size();
                }
            }
        });
    const double decode_s = decode_passes_s / decode_passes;
    if (points != simple_points) {
        return fail("decode_payload and the baseline disagree");
    }

    const tarvok::raw::PayloadKernels& kernels = tarvok::raw::payload_kernels();
    std::vector<double> mz;
    std::vector<float> intensity;
    std::size_t peaks = 0;
    const double peak_decode_s = bench::median_seconds(repetitions, [&] {
        peaks = 0;
        for (const Span payload : payloads) {
            if (mz.size() < payload.size() + tarvok::raw::decode_slack) {
                mz.resize(payload.size() + tarvok::raw::decode_slack);
                intensity.resize(mz.size());
            }
            peaks += kernels.peaks(payload, mz.data(), intensity.data());
        }
    });

    const double read_s = bench::median_seconds(repetitions, [&] {
        if (!read_whole(reader->scan_path, scan)) {
            std::abort();
        }
    });
    std::size_t delivered = 0;
    const double block_io_s = bench::median_seconds(repetitions, [&] {
        delivered = 0;
        // A buffer of its own for every window, as read_scan_block has.
        for (const Window& window : windows) {
            tarvok::raw::WindowBuffer buffer;
            const auto bytes =
                tarvok::raw::read_window(reader->scan_path, window.start_offset, window.end_offset, buffer);
            delivered += bytes ? bytes->size() : 0;
        }
    });

    std::vector<melvane_core::SpectrumRecord> spectra;
    std::vector<long> iterate_faults;
    // Releasing the previous run's spectra stays outside the timing.
    const double iterate_s = bench::median_of(repetitions, [&] {
        spectra = std::vector<melvane_core::SpectrumRecord>();
        const long faults = minor_faults();
        const auto start = std::chrono::steady_clock::now();
        spectra = melvane_core::collect_spectra(reader->iter_spectra());
        const double seconds = bench::seconds_since(start);
        iterate_faults.push_back(minor_faults() - faults);
        return seconds;
    });
    iterate_faults.erase(iterate_faults.begin());
    std::sort(iterate_faults.begin(), iterate_faults.end());
    std::size_t iterated_peaks = 0;
    for (const melvane_core::SpectrumRecord& spectrum : spectra) {
        iterated_peaks += spectrum.mz.size();
    }
    if (iterated_peaks != peaks) {
        return fail("the iterator and the peak decoder disagree");
    }
    const std::size_t retained = peaks * (sizeof(double) + sizeof(float));

    std::printf(
        "{\"scans\": %zu, \"scan_bytes\": %zu, \"payload_bytes\": %zu, \"window_bytes\": %zu, \"points\": %zu, "
        "\"peaks\": %zu, \"kernels\": \"%s\", \"repetitions\": %d, \"read_s\": %.6f, \"simple_decode_s\": %.6f, "
        "\"decode_s\": %.6f, \"peak_decode_s\": %.6f, \"block_io_s\": %.6f, \"iterate_s\": %.6f, "
        "\"iterate_faults\": %ld, \"retained_bytes\": %zu, \"retained_write_s\": %.6f}\n",
        windows.size(), scan.size(), payload_bytes, delivered, points, peaks,
        kernels.name, repetitions, read_s, simple_s, decode_s,
        peak_decode_s, block_io_s, iterate_s, iterate_faults[iterate_faults.size() / 2], retained,
        fresh_write_seconds(retained));
    return 0;
}
