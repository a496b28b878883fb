// Writes mzML documents from synthetic spectra, each with a JSON file of what
// it must hold (every number as the hexadecimal of its little-endian bytes),
// for the document checks in the Python tests.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fd_sink.hpp"
#include "mzml/writer.hpp"
#include "synthetic_spectra.hpp"
#include "unique_fd.hpp"

namespace {

using melvane_core::SpectrumRecord;

struct Document {
    std::string file_name;
    mzml::RunDescription run;
    std::vector<SpectrumRecord> spectra;
};

std::string hex(std::span<const std::byte> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::byte b : bytes) {
        text += digits[std::to_integer<unsigned>(b) >> 4];
        text += digits[std::to_integer<unsigned>(b) & 15];
    }
    return text;
}

std::string hex_of(std::string_view text) { return hex(std::as_bytes(std::span(text.data(), text.size()))); }

std::string expectation(const Document& d)
{
    std::string json = "{\"sample_name_hex\": \"" + hex_of(d.run.sample_name) + "\", \"zlib\": ";
    json += d.run.zlib ? "true" : "false";
    json += ", \"numpress\": ";
    json += d.run.numpress ? "true" : "false";
    json += ", \"source_files_hex\": [";
    for (std::size_t i = 0; i < d.run.source_files.size(); ++i) {
        json += (i ? ", \"" : "\"") + hex_of(d.run.source_files[i].path) + "\"";
    }
    json += "], \"spectra\": [";
    for (std::size_t i = 0; i < d.spectra.size(); ++i) {
        const SpectrumRecord& s = d.spectra[i];
        json += i ? ",\n  " : "\n  ";
        json += "{\"id\": \"scan=" + std::to_string(s.scan_number) + "\", \"ms_level\": " + std::to_string(s.ms_level);
        json += ", \"time\": \"" + hex(std::as_bytes(std::span(&s.retention_time_sec, 1)));
        json += "\", \"mz\": \"" + hex(std::as_bytes(std::span(s.mz)));
        json += "\", \"intensity\": \"" + hex(std::as_bytes(std::span(s.intensity))) + "\"}";
    }
    json += "]}\n";
    return json;
}

bool write_file(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

int write_document(const std::string& dir, Document& d)
{
    const std::string path = dir + "/" + d.file_name;
    tarvok::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd) {
        return errno;
    }
    convert::FdSink sink(fd.get());
    d.run.spectrum_count = d.spectra.size();
    for (const SpectrumRecord& s : d.spectra) {
        (s.ms_level == 1 ? d.run.has_ms1 : d.run.has_msn) = true;
    }
    int failure = 0;
    if (auto writer = mzml::Writer::begin(sink, d.run); !writer) {
        failure = writer.error();
    } else {
        for (const SpectrumRecord& s : d.spectra) {
            if (auto added = writer->add(s); !added) {
                failure = added.error();
                break;
            }
        }
        if (failure == 0) {
            if (auto finished = writer->finish(); !finished) {
                failure = finished.error();
            }
        }
    }
    if (auto closed = fd.close(); !closed && failure == 0) {
        failure = closed.error();
    }
    if (failure == 0 && !write_file(path + ".expect.json", expectation(d))) {
        failure = errno;
    }
    return failure;
}

mzml::SourceFile source(std::string path, const char* sha1)
{
    return {std::move(path), sha1, {"MS:1000562", "ABI WIFF format"}, {"MS:1000776", "scan number only nativeID format"}};
}

std::vector<Document> documents()
{
    std::vector<Document> docs;
    const auto sources = [](const std::string& stem) {
        return std::vector{source(stem + ".wiff", "da39a3ee5e6b4b0d3255bfef95601890afd80709"),
                           source(stem + ".wiff.scan", "0123456789abcdef0123456789abcdef01234567")};
    };
    const auto document = [&](std::string file_name, std::string sample_name, const std::string& source_stem,
                              std::string software_version, bool zlib, bool numpress) {
        Document d;
        d.file_name = std::move(file_name);
        d.run.sample_name = std::move(sample_name);
        d.run.source_files = sources(source_stem);
        d.run.zlib = zlib;
        d.run.numpress = numpress;
        d.run.software_version = std::move(software_version);
        return d;
    };
    for (const bool zlib : {false, true}) {
        Document d = document(zlib ? "edge-cases-zlib.mzML" : "edge-cases.mzML", "edge cases", "/data/edge cases",
                              "0.1.0", zlib, false);
        d.spectra = mzml_documents::edge_case_spectra();
        docs.push_back(std::move(d));
    }
    for (const bool zlib : {false, true}) {
        Document d = document(zlib ? "hostile-names-zlib.mzML" : "hostile-names.mzML",
                              "7 a&b <c> \"q\" 'x' \xc3\xa9\xe2\x82\xac \xff\xc0\xaf\xed\xa0\x80\x01\t\n]]> end",
                              "rel dir/a&b <c> \"q\" 'x' \xc3\xa9 \xff\x01%20#?", "0.1.0 <&>\"'\xff", zlib, false);
        for (std::uint32_t scan = 1; scan <= 4; ++scan) {
            d.spectra.push_back(mzml_documents::random_spectrum(scan, scan, scan * 7));
        }
        docs.push_back(std::move(d));
    }
    for (const bool zlib : {false, true}) {
        Document d = document(zlib ? "numpress-edges-zlib.mzML" : "numpress-edges.mzML", "numpress edges",
                              "/data/numpress edges", "0.1.0", zlib, true);
        d.spectra = mzml_documents::numpress_edge_spectra();
        docs.push_back(std::move(d));
    }
    Document numpress_edge_cases =
        document("edge-cases-numpress.mzML", "edge cases", "/data/edge cases", "0.1.0", false, true);
    numpress_edge_cases.spectra = mzml_documents::edge_case_spectra();
    docs.push_back(std::move(numpress_edge_cases));
    docs.push_back(document("no-spectra.mzML", "", "/data/none", "0.1.0", false, false));
    return docs;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    int status = 0;
    for (Document& d : documents()) {
        if (const int failure = write_document(argv[1], d); failure != 0) {
            std::fprintf(stderr, "%s: %s\n", d.file_name.c_str(), std::strerror(failure));
            status = 1;
        } else {
            std::printf("%s\n", d.file_name.c_str());
        }
    }
    return status;
}
