// The parts of a conversion that no converter avoids, timed apart, as medians
// in one JSON object: reading and decoding every spectrum through the strict
// path, base64 of both arrays on top of that, writing a given number of bytes
// to a file, the SHA-1 of the two sample files and, for what the document's
// own checksum costs, the SHA-1 of a converted document held in memory.
//
// usage: tarvok-convert-floor SAMPLE.wiff DOCUMENT.mzML SCRATCH_FILE REPETITIONS
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "file_sha1.hpp"
#include "sha1.hpp"
#include "record_fields.hpp"
#include "unique_fd.hpp"
#include "write_all.hpp"
#include "mzml/base64.hpp"
#include "tarvok/reader.hpp"
#include "tarvok/strict_spectra.hpp"
#include "scan_window.hpp"
#include "timing.hpp"

namespace {

// Every spectrum through the strict path; with `encode`, both arrays to base64
// as well. Returns a sum of what was made, so nothing is optimised away.
std::size_t read_all(const tarvok::Reader& reader, bool encode, std::vector<char>& text)
{
    tarvok::StrictSpectra spectra{tarvok::Reader(reader)};
    melvane_core::SpectrumRecord spectrum;
    std::size_t made = 0;
    while (spectra.next(spectrum).value_or(false)) {
        made += spectrum.mz.size();
        if (encode) {
            const auto mz = std::as_bytes(std::span(spectrum.mz));
            const auto intensity = std::as_bytes(std::span(spectrum.intensity));
            text.resize(std::max(text.size(), mzml::base64_length(mz.size())));
            mzml::base64_encode(mz, text.data());
            mzml::base64_encode(intensity, text.data());
            made += static_cast<unsigned char>(text[0]);
        }
    }
    return made;
}

// The strict path's file access alone: every window by positioned reads on
// one descriptor. Returns the bytes delivered.
std::uint64_t positioned_reads(const tarvok::Reader& reader, tarvok::raw::WindowBuffer& buffer)
{
    int os_error = 0;
    const tarvok::UniqueFd fd = tarvok::open_read_only(reader.scan_path, os_error);
    std::uint64_t delivered = 0;
    for (std::size_t i = 0; i < reader.records.size() && fd; ++i) {
        const std::uint64_t end = tarvok::end_offset_of(reader.records, i, reader.scan_file_len);
        const auto window = tarvok::raw::read_window_at(fd.get(), reader.records[i].block_offset, end, buffer);
        delivered += window ? window->size() : 0;
    }
    return delivered;
}

// `size` bytes of the file read in order into `whole`; returns how many came.
std::uint64_t read_file(const std::string& path, std::uint64_t size, std::vector<char>& whole)
{
    int os_error = 0;
    const tarvok::UniqueFd fd = tarvok::open_read_only(path, os_error);
    whole.resize(size);
    std::uint64_t delivered = 0;
    for (ssize_t n = 1; fd && n > 0 && delivered < whole.size(); delivered += static_cast<std::uint64_t>(n)) {
        n = ::read(fd.get(), whole.data() + delivered, whole.size() - delivered);
        if (n <= 0) {
            break;
        }
    }
    return delivered;
}

// The other way to reach every byte once: one sequential read of the file.
std::uint64_t sequential_read(const tarvok::Reader& reader, std::vector<char>& whole)
{
    return read_file(reader.scan_path, reader.scan_file_len, whole);
}

// Writes a new file, as a conversion does: the file of the run before is
// removed first, untimed, so freeing its pages is no part of the time.
bool write_bytes(const std::string& path, std::uint64_t bytes)
{
    const std::vector<char> block(std::size_t{1} << 20, 'x');
    tarvok::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd) {
        return false;
    }
    bool ok = true;
    for (std::uint64_t left = bytes; left > 0 && ok;) {
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        ok = tarvok::write_all(fd.get(), std::span(block.data(), n)).has_value();
        left -= n;
    }
    return fd.close().has_value() && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SAMPLE.wiff DOCUMENT.mzML SCRATCH_FILE REPETITIONS\n", argv[0]);
        return 2;
    }
    const std::string wiff = argv[1];
    const std::string document = argv[2];
    struct stat status {};
    if (::stat(document.c_str(), &status) != 0) {
        std::perror(document.c_str());
        return 1;
    }
    const auto mzml_bytes = static_cast<std::uint64_t>(status.st_size);
    const std::string output = argv[3];
    const int repetitions = std::stoi(argv[4]);
    const auto reader = tarvok::Reader::open(wiff);
    if (!reader) {
        std::fprintf(stderr, "%s: %s\n", wiff.c_str(), reader.error().display().c_str());
        return 1;
    }
    std::vector<char> text;
    std::size_t sink = 0;
    tarvok::raw::WindowBuffer windows;
    // Wall and CPU medians of each part: the machine is shared, and CPU time
    // shows the work where other users' load stretches the wall clock.
    const auto both = [&](auto&& work) {
        return std::pair{bench::median_seconds(repetitions, work), bench::median_cpu_seconds(repetitions, work)};
    };
    const auto pread_s = both([&] { sink += positioned_reads(*reader, windows); });
    const auto sequential_s = both([&] { sink += sequential_read(*reader, text); });
    const auto strict_s = both([&] { sink += read_all(*reader, false, text); });
    const auto strict_base64_s = both([&] { sink += read_all(*reader, true, text); });
    bool written = true;
    const auto write = [&] { written = write_bytes(output, mzml_bytes) && written; };
    // Each run's file is removed before it, untimed.
    const std::pair write_s{bench::median_of(repetitions, [&] {
                                ::unlink(output.c_str());
                                return bench::seconds_of(write);
                            }),
                            bench::median_of(repetitions, [&] {
                                ::unlink(output.c_str());
                                return bench::cpu_seconds_of(write);
                            })};
    ::unlink(output.c_str());
    bool hashed = true;
    const auto sha1_s = both([&] {
        hashed = tarvok::file_sha1(wiff).has_value() && tarvok::file_sha1(reader->scan_path).has_value() && hashed;
    });
    // The document's own checksum is taken of bytes in memory as they go out:
    // hashed here from memory too, in steps of the writer's buffer size, not read back.
    constexpr std::size_t writer_step = std::size_t{512} << 10;
    std::vector<char> whole_document;
    hashed = read_file(document, mzml_bytes, whole_document) == mzml_bytes && hashed;
    const auto document_sha1_s = both([&] {
        tarvok::Sha1 sha1;
        for (std::size_t at = 0; at < whole_document.size(); at += writer_step) {
            sha1.update(std::span(whole_document).subspan(at, std::min(whole_document.size() - at, writer_step)));
        }
        sink += static_cast<unsigned char>(sha1.hex_digest()[0]);
    });
    if (!written || !hashed) {
        std::fprintf(stderr, "writing %s or hashing the sample failed\n", output.c_str());
        return 1;
    }
    std::printf("{");
    for (const auto& [name, seconds] : {std::pair{"pread", pread_s}, {"sequential_read", sequential_s},
                                        {"strict", strict_s}, {"strict_base64", strict_base64_s},
                                        {"write", write_s}, {"sha1", sha1_s}, {"document_sha1", document_sha1_s}}) {
        std::printf("\"%s_s\": %.6f, \"%s_cpu_s\": %.6f, ", name, seconds.first, name, seconds.second);
    }
    std::printf("\"made\": %zu}\n", sink);
    return 0;
}
