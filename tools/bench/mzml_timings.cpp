// Throughput of the mzML writer and its parts, as medians: base64 and SHA-1
// against GLib's, the whole writer on synthetic spectra into a counting sink
// and into a file, and the SHA-1 of a file. Prints JSON.
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mzml/base64.hpp"
#include "mzml/writer.hpp"
#include "fd_sink.hpp"
#include "file_sha1.hpp"
#include "sha1.hpp"
#include "synthetic_spectra.hpp"
#include "timing.hpp"
#include "unique_fd.hpp"

namespace {

class CountingSink final : public mzml::ByteSink {
public:
    std::expected<void, int> write(std::span<const char> bytes) override
    {
        count += bytes.size();
        return {};
    }
    std::uint64_t count = 0;
};

struct Workload {
    std::vector<melvane_core::SpectrumRecord> pool;  // cycled, so memory stays small
    std::size_t spectra = 0;
    std::uint64_t array_bytes = 0;
};

Workload workload(std::uint64_t target_bytes, std::size_t peaks)
{
    Workload w;
    for (std::uint32_t i = 0; i < 64; ++i) {
        w.pool.push_back(mzml_documents::random_spectrum(i, i + 1, peaks));
    }
    w.spectra = static_cast<std::size_t>(target_bytes / (peaks * 12));
    w.array_bytes = std::uint64_t{w.spectra} * peaks * 12;
    return w;
}

std::uint64_t write_document(Workload& w, mzml::ByteSink& sink, bool zlib)
{
    mzml::RunDescription run;
    run.sample_name = "bench";
    run.spectrum_count = w.spectra;
    run.has_ms1 = run.has_msn = true;
    run.zlib = zlib;
    auto writer = mzml::Writer::begin(sink, run);
    for (std::size_t i = 0; i < w.spectra; ++i) {
        auto& s = w.pool[i % w.pool.size()];
        s.scan_number = static_cast<std::uint32_t>(i + 1);
        if (!writer->add(s)) {
            std::abort();
        }
    }
    if (!writer->finish()) {
        std::abort();
    }
    return writer->bytes_written();
}

double mb_s(std::uint64_t bytes, double seconds) { return bytes / seconds / 1e6; }

}  // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string scratch = argc > 2 ? argv[2] : "/tmp";

    std::vector<unsigned char> bytes(std::size_t{64} << 20);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>((i * 2654435761U) >> 13);
    }
    std::vector<char> text(mzml::base64_length(bytes.size()));
    const double ours64 = bench::median_seconds(reps, [&] { mzml::base64_encode(std::as_bytes(std::span(bytes)), text.data()); });
    const double glib64 = bench::median_seconds(reps, [&] { g_free(g_base64_encode(bytes.data(), bytes.size())); });
    const auto as_chars = std::span(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const double ours_sha = bench::median_seconds(reps, [&] {
        tarvok::Sha1 sha1;
        sha1.update(as_chars);
        sha1.hex_digest();
    });
    const double glib_sha = bench::median_seconds(reps, [&] {
        g_free(g_compute_checksum_for_data(G_CHECKSUM_SHA1, bytes.data(), bytes.size()));
    });

    const std::string file = scratch + "/tarvok-bench-68mb";
    {
        tarvok::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        convert::FdSink sink(fd.get());
        if (!fd || !sink.write(std::span(as_chars.data(), 68'000'000)) || !fd.close()) {
            std::perror(file.c_str());
            return 1;
        }
    }
    const double file_sha = bench::median_seconds(reps, [&] {
        if (!tarvok::file_sha1(file)) {
            std::abort();
        }
    });
    ::unlink(file.c_str());

    Workload w = workload(260'000'000, 1500);
    std::uint64_t document_bytes = 0;
    const double to_counter = bench::median_seconds(reps, [&] {
        CountingSink sink;
        document_bytes = write_document(w, sink, false);
    });
    const std::string out = scratch + "/tarvok-bench.mzML";
    const auto to_file = [&](bool zlib, std::uint64_t& written) {
        return bench::median_seconds(reps, [&] {
            const tarvok::UniqueFd fd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
            convert::FdSink sink(fd.get());
            written = write_document(w, sink, zlib);
        });
    };
    std::uint64_t file_bytes = 0;
    std::uint64_t zlib_bytes = 0;
    const double plain_file = to_file(false, file_bytes);
    const double zlib_file = to_file(true, zlib_bytes);
    ::unlink(out.c_str());

    std::printf("{\n");
    std::printf("  \"base64_mb_s\": %.0f,\n  \"glib_base64_mb_s\": %.0f,\n", mb_s(bytes.size(), ours64), mb_s(bytes.size(), glib64));
    std::printf("  \"sha1_mb_s\": %.0f,\n  \"glib_sha1_mb_s\": %.0f,\n", mb_s(bytes.size(), ours_sha), mb_s(bytes.size(), glib_sha));
    std::printf("  \"file_sha1_68mb_s\": %.3f,\n", file_sha);
    std::printf("  \"writer_array_mb\": %.0f,\n  \"writer_document_mb\": %.0f,\n", w.array_bytes / 1e6, document_bytes / 1e6);
    std::printf("  \"writer_to_counter_s\": %.3f,\n  \"writer_to_counter_array_mb_s\": %.0f,\n", to_counter, mb_s(w.array_bytes, to_counter));
    std::printf("  \"writer_to_file_s\": %.3f,\n  \"writer_to_file_array_mb_s\": %.0f,\n", plain_file, mb_s(w.array_bytes, plain_file));
    std::printf("  \"writer_zlib_to_file_s\": %.3f,\n  \"writer_zlib_document_mb\": %.0f\n}\n", zlib_file, zlib_bytes / 1e6);
    return 0;
}
