#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "melvane_core/spectrum_record.hpp"

// Streams indexed mzML 1.1 from spectrum records to any byte sink. Knows
// nothing of the format the spectra came from: the caller names it.
namespace mzml {

// Where the document's bytes go. A failed write is final: the writer stops.
// The writer calls write from a thread of its own, one call at a time, in
// document order; no call runs after finish() returns or the writer is gone.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes every byte or returns the errno of the failure.
    virtual std::expected<void, int> write(std::span<const char> bytes) = 0;

protected:
    ByteSink() = default;
    ByteSink(const ByteSink&) = default;
    ByteSink& operator=(const ByteSink&) = default;
};

struct CvTerm {
    std::string accession;  // "MS:1000562"
    std::string name;       // "ABI WIFF format"
};

// A free-text remark on one spectrum: <userParam name=".." value=".." type="xsd:string"/>.
struct UserParam {
    std::string name;
    std::string value;
};

// One file the spectra were read from.
struct SourceFile {
    std::string path;      // its name and file:// location derive from it
    std::string sha1_hex;  // 40 lower-case hexadecimal digits; empty: no checksum term
    CvTerm file_format;
    CvTerm native_id_format;
};

// What the document states before its first spectrum.
struct RunDescription {
    // The run's id derives from it: each character other than an ASCII
    // letter, digit, '-', '.' or '_' (and each invalid UTF-8 sequence)
    // becomes '_', and '_' goes first unless it starts with a letter or '_'
    // (so "" gives "_", "7 mix" gives "_7_mix"). An id that would equal one
    // the document gives its own elements ("MS", "UO", "SF1" to "SF<n>" for
    // n source files, "tarvok", "instrument_configuration",
    // "tarvok_conversion", "TIC") gets a '_' in front as well ("SF1" gives
    // "_SF1"); every other id is the derived one unchanged.
    std::string sample_name;
    std::vector<SourceFile> source_files;
    std::size_t spectrum_count = 0;  // exactly this many spectra follow
    bool has_ms1 = false;            // any spectrum of MS level 1
    bool has_msn = false;            // any of MS level 2 or above
    bool zlib = false;               // binary arrays zlib-compressed
    // Spectra's m/z arrays in MS-Numpress linear prediction and intensity
    // arrays in positive-integer coding, each only where the reference
    // decoder gives back every value bit for bit; with zlib, compressed after.
    bool numpress = false;
    std::string software_version;
    // When set, the source files' SHA-1s (40 lower-case hexadecimal digits
    // each, in their order; every file then has a SHA-1 term) come from
    // this rather than sha1_hex. It is called once, on a thread of the
    // writer's own, while the first spectra are encoded: the document's
    // bytes wait for it. It must not throw; an errno from it (or EINVAL for
    // digits that are not such) fails the writer as a failed write does.
    std::function<std::expected<std::vector<std::string>, int>()> source_sha1s;
};

// One thread (the caller's) calls the writer. With `threads` above 1 the
// spectra are encoded (their text, compression and base64) on that many
// threads in all: the caller's and threads - 1 workers of the writer's own,
// with up to 2 × threads batches of consecutive spectra in flight (a batch
// closes at 64 spectra or 128 KiB of arrays), each held until its turn. The
// document is still written, hashed and indexed in order on one thread, so
// its bytes are the same for any number of threads; memory grows with the
// threads times the largest spectrum.
class Writer {
public:
    // Writes everything up to the first spectrum. The sink must outlive the
    // writer. Errors are errno values. A worker that cannot be started leaves
    // its share to the others (the caller's thread at least). The writer can
    // be given up to `most_threads` threads later (no fewer than `threads`).
    static std::expected<Writer, int> begin(ByteSink& sink, RunDescription run, std::size_t threads = 1,
                                            std::size_t most_threads = 0);

    // Encodes on `threads` threads from now on, at most the most given to
    // begin; never fewer than before.
    void raise_threads(std::size_t threads);

    // One spectrum, with id "scan=<scan_number>". EINVAL, with nothing
    // written, for a spectrum that would make the document wrong: more than
    // announced, arrays of different lengths or above 2^31 - 1 peaks, MS
    // level 0 or one not announced, a scan number not above the last one.
    // Writes go on behind: a failed one is returned by a later add or by
    // finish. The user params follow the spectrum's own terms.
    // Encoding is behind too with threads: a spectrum goes into the document
    // by a later add or by finish; it is copied to be kept until then.
    std::expected<void, int> add(const melvane_core::SpectrumRecord& spectrum,
                                 std::span<const UserParam> user_params = {});

    // As add, but with threads the spectrum's storage is taken instead of
    // copied: `spectrum` comes back holding that of an earlier spectrum (or
    // its own), to be refilled. Refused, it is left as it was.
    std::expected<void, int> take(melvane_core::SpectrumRecord& spectrum, std::span<const UserParam> user_params = {});

    // The TIC chromatogram, the index, its offset and the checksum; then
    // flushes. Every spectrum announced must have been added (else EINVAL).
    // After a failed write every call returns that write's errno.
    std::expected<void, int> finish();

    // Bytes of the document so far, those still buffered included, those of
    // spectra still being encoded not.
    std::uint64_t bytes_written() const;

    Writer(Writer&&) noexcept;
    Writer& operator=(Writer&&) noexcept;
    ~Writer();

private:
    struct State;
    explicit Writer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace mzml
