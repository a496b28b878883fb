// The parts of a conversion that no converter avoids, timed apart, as medians
// in one JSON object: reading and decoding every spectrum through the strict
// path, base64 of both arrays on top of that, writing a given number of bytes
// to a file, and the SHA-1 of the two sample files.
//
// usage: tarvok-convert-floor SAMPLE.wiff MZML_BYTES OUTPUT_FILE REPETITIONS
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mzml/base64.hpp"
#include "mzml/file_sha1.hpp"
#include "tarvok/reader.hpp"
#include "tarvok/strict_spectra.hpp"
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

bool write_bytes(const std::string& path, std::uint64_t bytes)
{
    const std::vector<char> block(std::size_t{1} << 20, 'x');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    for (std::uint64_t left = bytes; left > 0 && ok;) {
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
        left -= n;
    }
    ok = ::close(fd) == 0 && ok;
    ::unlink(path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SAMPLE.wiff MZML_BYTES OUTPUT_FILE REPETITIONS\n", argv[0]);
        return 2;
    }
    const std::string wiff = argv[1];
    const std::uint64_t mzml_bytes = std::stoull(argv[2]);
    const std::string output = argv[3];
    const int repetitions = std::stoi(argv[4]);
    const auto reader = tarvok::Reader::open(wiff);
    if (!reader) {
        std::fprintf(stderr, "%s: %s\n", wiff.c_str(), reader.error().display().c_str());
        return 1;
    }
    std::vector<char> text;
    std::size_t sink = 0;
    const double strict_s = bench::median_seconds(repetitions, [&] { sink += read_all(*reader, false, text); });
    const double strict_base64_s = bench::median_seconds(repetitions, [&] { sink += read_all(*reader, true, text); });
    bool written = true;
    const double write_s = bench::median_seconds(repetitions, [&] { written = write_bytes(output, mzml_bytes) && written; });
    bool hashed = true;
    const double sha1_s = bench::median_seconds(repetitions, [&] {
        hashed = mzml::file_sha1(wiff).has_value() && mzml::file_sha1(reader->scan_path).has_value() && hashed;
    });
    if (!written || !hashed) {
        std::fprintf(stderr, "writing %s or hashing the sample failed\n", output.c_str());
        return 1;
    }
    std::printf("{\"strict_s\": %.6f, \"strict_base64_s\": %.6f, \"write_s\": %.6f, \"sha1_s\": %.6f, \"made\": %zu}\n",
                strict_s, strict_base64_s, write_s, sha1_s, sink);
    return 0;
}
