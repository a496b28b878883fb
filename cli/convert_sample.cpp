#include "convert_sample.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <future>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "atomic_output.hpp"
#include "fd_sink.hpp"
#include "file_sha1.hpp"
#include "mzml/gzip_sink.hpp"
#include "mzml/writer.hpp"
#include "tarvok/reader.hpp"
#include "tarvok/strict_spectra.hpp"
#include "test_hooks.hpp"

namespace convert {
namespace {

std::string failure(const std::string& path, const std::string& text)
{
    return "tarvok-convert: " + path + ": " + text;
}

std::string os_failure(const std::string& path, int os_error)
{
    return failure(path, tarvok::Error::from_errno(os_error).display());
}

// The records the filter keeps, with what the header must announce of them.
struct Selection {
    std::vector<bool> kept;
    std::size_t spectra = 0;
    bool has_ms1 = false;
    bool has_msn = false;
};

Selection select(const tarvok::StrictSpectra& spectra, const SpectrumFilter& filter)
{
    Selection selection;
    selection.kept.resize(spectra.size());
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        const tarvok::IndexFacts facts = spectra.index_facts(i);
        if (filter.keeps(facts.ms_level, facts.scan_number, facts.retention_time_sec)) {
            selection.kept[i] = true;
            ++selection.spectra;
            (facts.ms_level >= 2 ? selection.has_msn : selection.has_ms1) = true;
        }
    }
    return selection;
}

mzml::SourceFile source_file(const std::string& path)
{
    return mzml::SourceFile{
        .path = path,
        .sha1_hex = {},  // from the writer's source_sha1s
        .file_format = {"MS:1000562", "ABI WIFF format"},
        .native_id_format = {"MS:1000776", "scan number only nativeID format"},
    };
}

// The SHA-1s of both files, or the message naming the one that could not be hashed.
using Sha1s = std::expected<std::vector<std::string>, std::string>;

// Hashes the files on a thread of its own (on the first caller's, if no
// thread can be had), so that the spectra are encoded meanwhile.
std::shared_future<Sha1s> hash_files(std::vector<std::string> paths)
{
    return std::async(std::launch::async | std::launch::deferred,
                      [paths = std::move(paths)]() -> Sha1s {
                          std::vector<std::string> sha1s;
                          for (const std::string& path : paths) {
                              const std::expected<std::string, int> sha1 = tarvok::file_sha1(path);
                              if (!sha1) {
                                  return std::unexpected(os_failure(path, sha1.error()));
                              }
                              sha1s.push_back(*sha1);
                          }
                          return sha1s;
                      })
        .share();
}

// The mark a salvaged spectrum carries in the document, its value the reason.
constexpr std::string_view damaged_block_param = "damaged scan block";

// The writer refuses with EINVAL what would make the document wrong: a fault
// of ours, not of the system, unless a write failed.
std::string writer_failure(const std::string& wiff_path, const std::string& output_name, const FdSink& sink,
                           int error, const std::string& where)
{
    if (error == EINVAL && !sink.failed()) {
        return failure(wiff_path, where + "internal error: the mzML writer refused the document");
    }
    return os_failure(output_name, error);
}

// Reads every spectrum into the writer; the failure names the input for a
// read and the output for a write.
std::expected<void, std::string> stream_spectra(const Job& job, tarvok::Reader reader, FdSink& sink,
                                                std::size_t slot, ThreadShares& shares, std::size_t& threads,
                                                Progress& progress)
{
    mzml::RunDescription run;
    run.sample_name = reader.sample_name;
    for (const std::string& path : {job.wiff_path, reader.scan_path}) {
        run.source_files.push_back(source_file(path));
    }
    const std::shared_future<Sha1s> sha1s = hash_files({job.wiff_path, reader.scan_path});
    run.source_sha1s = [sha1s]() -> std::expected<std::vector<std::string>, int> {
        try {
            const Sha1s& hashed = sha1s.get();
            if (!hashed) {
                // The message naming the file is the converter's to give: the writer only stops.
                return std::unexpected(EIO);
            }
            return *hashed;
        } catch (const std::exception&) {
            return std::unexpected(ENOMEM);
        }
    };
    // A file that cannot be hashed is the failure to report, whatever else failed after.
    const auto failed = [&sha1s](std::string message) -> std::expected<void, std::string> {
        if (const Sha1s& hashed = sha1s.get(); !hashed) {
            return std::unexpected(hashed.error());
        }
        return std::unexpected(std::move(message));
    };
    tarvok::StrictSpectra spectra(std::move(reader),
                                  job.salvage ? tarvok::DamagePolicy::salvage : tarvok::DamagePolicy::refuse);
    const Selection selection = select(spectra, job.filter);
    run.spectrum_count = selection.spectra;
    run.has_ms1 = selection.has_ms1;
    run.has_msn = selection.has_msn;
    run.zlib = job.zlib;
    run.numpress = job.numpress;
    run.software_version = TARVOK_VERSION;

    const std::string output_name = job.output_path == "-" ? "<stdout>" : job.output_path;
    std::optional<mzml::GzipSink> gzip;
    if (job.gzip) {
        auto compressing = mzml::GzipSink::over(sink, threads);
        if (!compressing) {
            return failed(os_failure(output_name, compressing.error()));
        }
        gzip.emplace(*std::move(compressing));
    }
    auto writer = mzml::Writer::begin(gzip ? static_cast<mzml::ByteSink&>(*gzip) : sink, std::move(run), threads,
                                      shares.threads());
    if (!writer) {
        return failed(os_failure(output_name, writer.error()));
    }
    melvane_core::SpectrumRecord spectrum;
    std::vector<mzml::UserParam> marks;
    while (true) {
        // Filtered out: the block is not even read.
        if (spectra.position() < selection.kept.size() && !selection.kept[spectra.position()]) {
            spectra.skip();
            progress.advance(slot, spectra.position());
            continue;
        }
        if (const std::size_t more = shares.more(); more > 0) {
            threads += more;
            writer->raise_threads(threads);
        }
        const std::expected<bool, tarvok::Error> filled = spectra.next(spectrum);
        if (!filled) {
            const auto& damage = spectra.damage();
            return failed(failure(job.wiff_path, damage ? tarvok::damage_text(*damage) : filled.error().display()));
        }
        if (!*filled) {
            break;
        }
        marks.clear();
        if (const auto& damage = spectra.damage()) {
            progress.message(failure(job.wiff_path, "warning: " + tarvok::damage_text(*damage)));
            marks.push_back({std::string(damaged_block_param), damage->reason});
        }
        if (test_fault("writer-misuse")) {
            spectrum.scan_number = 0;
        }
        if (test_fault("memory")) {
            throw std::bad_alloc();
        }
        if (auto added = writer->take(spectrum, marks); !added) {
            return failed(writer_failure(job.wiff_path, output_name, sink, added.error(),
                                         "scan " + std::to_string(spectrum.scan_number) + ": "));
        }
        progress.advance(slot, spectra.position());
    }
    if (auto finished = writer->finish(); !finished) {
        return failed(writer_failure(job.wiff_path, output_name, sink, finished.error(), ""));
    }
    return {};
}

}  // namespace

std::expected<Converted, std::string> convert_sample(const Job& job, std::size_t slot, ThreadShares& shares,
                                                     std::size_t& threads, Progress& progress)
{
    std::expected<tarvok::Reader, tarvok::Error> reader = tarvok::Reader::open(job.wiff_path);
    if (!reader) {
        return std::unexpected(failure(job.wiff_path, reader.error().display()));
    }
    Converted converted{.scan_bytes = reader->scan_file_len};
    progress.start(slot, reader->sample_name, reader->records.size(), reader->scan_file_len);
    struct Finish {
        Progress& progress;
        std::size_t slot;
        ~Finish() { progress.finish(slot); }
    } finish{progress, slot};

    if (job.output_path == "-") {
        FdSink sink(STDOUT_FILENO);
        if (auto streamed = stream_spectra(job, *std::move(reader), sink, slot, shares, threads, progress); !streamed) {
            return std::unexpected(streamed.error());
        }
        return converted;
    }

    auto output = AtomicOutput::create(slot, job.output_path);
    if (!output) {
        return std::unexpected(os_failure(job.output_path, output.error()));
    }
    FdSink sink(output->fd());
    if (auto streamed = stream_spectra(job, *std::move(reader), sink, slot, shares, threads, progress); !streamed) {
        return std::unexpected(streamed.error());
    }
    if (auto committed = output->commit(); !committed) {
        return std::unexpected(os_failure(job.output_path, committed.error()));
    }
    return converted;
}

}  // namespace convert
