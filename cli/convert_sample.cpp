#include "convert_sample.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "mzml/fd_sink.hpp"
#include "mzml/file_sha1.hpp"
#include "mzml/writer.hpp"
#include "tarvok/reader.hpp"
#include "tarvok/strict_spectra.hpp"
#include "temp_cleanup.hpp"

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

// umask can only be read by setting it: done once, before any thread runs.
const mode_t output_mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}();

// Owns the temporary file until it is renamed over the output.
class TempOutput {
public:
    TempOutput(std::size_t slot, TempFile file) : slot_(slot), file_(std::move(file)) {}
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;
    ~TempOutput()
    {
        if (file_.fd >= 0) {
            ::close(file_.fd);
        }
        if (!committed_) {
            ::unlink(file_.path.c_str());
        }
        release_temp(slot_);
    }

    int fd() const { return file_.fd; }

    int commit(const std::string& final_path)
    {
        // mkstemp's 0600 would make the output private to its writer.
        if (::fchmod(file_.fd, output_mode) != 0) {
            return errno;
        }
        const int fd = std::exchange(file_.fd, -1);
        if (::close(fd) != 0) {
            return errno;
        }
        if (::rename(file_.path.c_str(), final_path.c_str()) != 0) {
            return errno;
        }
        committed_ = true;
        return 0;
    }

private:
    std::size_t slot_;
    TempFile file_;
    bool committed_ = false;
};

struct SampleFacts {
    std::size_t spectra = 0;
    bool has_ms1 = false;
    bool has_msn = false;
};

SampleFacts facts_of(const tarvok::Reader& reader)
{
    SampleFacts facts;
    facts.spectra = reader.records.size();
    for (const auto& record : reader.records) {
        (record.ms_level >= 2 ? facts.has_msn : facts.has_ms1) = true;
    }
    return facts;
}

std::expected<mzml::SourceFile, std::string> source_file(const std::string& wiff_path, const std::string& path)
{
    const std::expected<std::string, int> sha1 = mzml::file_sha1(path);
    if (!sha1) {
        return std::unexpected(os_failure(wiff_path, sha1.error()));
    }
    return mzml::SourceFile{
        .path = path,
        .sha1_hex = *sha1,
        .file_format = {"MS:1000562", "ABI WIFF format"},
        .native_id_format = {"MS:1000776", "scan number only nativeID format"},
    };
}

// The mark a salvaged spectrum carries in the document, its value the reason.
constexpr std::string_view damaged_block_param = "damaged scan block";

std::string damage_text(const tarvok::BlockDamage& damage)
{
    return "scan " + std::to_string(damage.scan_number) + ": " + damage.reason;
}

// Reads every spectrum into the writer; the failure names the input for a
// read and the output for a write.
std::expected<void, std::string> stream_spectra(const Job& job, tarvok::Reader reader, mzml::ByteSink& sink,
                                                std::size_t slot, Progress& progress)
{
    const SampleFacts facts = facts_of(reader);
    mzml::RunDescription run;
    run.sample_name = reader.sample_name;
    for (const std::string& path : {job.wiff_path, reader.scan_path}) {
        auto file = source_file(job.wiff_path, path);
        if (!file) {
            return std::unexpected(file.error());
        }
        run.source_files.push_back(*std::move(file));
    }
    run.spectrum_count = facts.spectra;
    run.has_ms1 = facts.has_ms1;
    run.has_msn = facts.has_msn;
    run.zlib = job.zlib;
    run.software_version = TARVOK_VERSION;

    const std::string output_name = job.output_path == "-" ? "<stdout>" : job.output_path;
    auto writer = mzml::Writer::begin(sink, std::move(run));
    if (!writer) {
        return std::unexpected(os_failure(output_name, writer.error()));
    }
    tarvok::StrictSpectra spectra(std::move(reader),
                                  job.salvage ? tarvok::DamagePolicy::salvage : tarvok::DamagePolicy::refuse);
    melvane_core::SpectrumRecord spectrum;
    std::vector<mzml::UserParam> marks;
    while (true) {
        const std::expected<bool, tarvok::Error> filled = spectra.next(spectrum);
        if (!filled) {
            const auto& damage = spectra.damage();
            return std::unexpected(failure(job.wiff_path, damage ? damage_text(*damage) : filled.error().display()));
        }
        if (!*filled) {
            break;
        }
        marks.clear();
        if (const auto& damage = spectra.damage()) {
            progress.message(failure(job.wiff_path, "warning: " + damage_text(*damage)));
            marks.push_back({std::string(damaged_block_param), damage->reason});
        }
        if (auto added = writer->add(spectrum, marks); !added) {
            return std::unexpected(os_failure(output_name, added.error()));
        }
        progress.advance(slot, spectra.position());
    }
    if (auto finished = writer->finish(); !finished) {
        return std::unexpected(os_failure(output_name, finished.error()));
    }
    return {};
}

}  // namespace

std::expected<Converted, std::string> convert_sample(const Job& job, std::size_t slot, Progress& progress)
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
        mzml::FdSink sink(STDOUT_FILENO);
        if (auto streamed = stream_spectra(job, *std::move(reader), sink, slot, progress); !streamed) {
            return std::unexpected(streamed.error());
        }
        return converted;
    }

    TempFile file;
    if (const int error = create_temp(slot, job.output_path, file); error != 0) {
        return std::unexpected(os_failure(job.output_path, error));
    }
    TempOutput temp(slot, std::move(file));
    mzml::FdSink sink(temp.fd());
    if (auto streamed = stream_spectra(job, *std::move(reader), sink, slot, progress); !streamed) {
        return std::unexpected(streamed.error());
    }
    if (const int error = temp.commit(job.output_path); error != 0) {
        return std::unexpected(os_failure(job.output_path, error));
    }
    return converted;
}

}  // namespace convert
