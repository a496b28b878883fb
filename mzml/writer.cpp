#include "mzml/writer.hpp"

#include <libdeflate.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <limits>
#include <cmath>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include "file_location.hpp"
#include "mzml/base64.hpp"
#include "number_text.hpp"
#include "numpress_coding.hpp"
#include "ordered_pool.hpp"
#include "output_stream.hpp"
#include "text_buffer.hpp"
#include "xml_text.hpp"

namespace mzml {

// The arrays go out as the machine holds them.
static_assert(std::endian::native == std::endian::little, "binary arrays are written little-endian as stored");

namespace {

constexpr std::size_t buffer_capacity = std::size_t{512} << 10;
// Measured on decoded samples: higher levels shrink the arrays by a few
// percent at best and take three times as long or more.
constexpr int zlib_level = 1;

constexpr std::string_view processing_id = "tarvok_conversion";
constexpr std::string_view instrument_id = "instrument_configuration";
constexpr std::string_view chromatogram_id = "TIC";
constexpr std::string_view software_id = "tarvok";

// Every id the document gives an element of its own; the run's must differ
// from each (the xs:ID ones must be unique, and a tool looking an id up must
// find the run under its own).
bool fixed_id(std::string_view id, std::size_t source_files)
{
    for (const std::string_view fixed : {std::string_view("MS"), std::string_view("UO"), software_id, instrument_id,
                                         processing_id, chromatogram_id}) {
        if (id == fixed) {
            return true;
        }
    }
    for (std::size_t i = 1; i <= source_files; ++i) {
        if (id == "SF" + std::to_string(i)) {
            return true;
        }
    }
    return false;
}

std::string run_id_for(const RunDescription& run)
{
    std::string id = ncname_from(run.sample_name);
    if (fixed_id(id, run.source_files.size())) {
        id.insert(id.begin(), '_');
    }
    return id;
}

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// For the document's stream and for the text of one spectrum alike.
template <class Text>
void put_double(Text& out, double value)
{
    char* p = out.room(number_text_capacity);
    out.advance(static_cast<std::size_t>(mzml::put_double(p, value) - p));
}

template <class Text>
void put_unsigned(Text& out, std::uint64_t value)
{
    char* p = out.room(number_text_capacity);
    out.advance(static_cast<std::size_t>(mzml::put_unsigned(p, value) - p));
}

// A cvParam whose value is a number; head ends inside value=", tail closes it.
template <class Text>
void number_param(Text& out, std::string_view head, double value, std::string_view tail)
{
    out.put(head);
    put_double(out, value);
    out.put(tail);
}

std::string xml_text(std::string_view text)
{
    std::string escaped;
    append_xml_text(escaped, text);
    return escaped;
}

std::string cv_param(const CvTerm& term, std::string_view value, std::string_view indent)
{
    std::string line(indent);
    line += R"(<cvParam cvRef=")";
    // The reference is the accession's prefix, as cvList declares it.
    append_xml_text(line, std::string_view(term.accession).substr(0, term.accession.find(':')));
    line += R"(" accession=")";
    append_xml_text(line, term.accession);
    line += R"(" name=")";
    append_xml_text(line, term.name);
    line += R"(" value=")";
    append_xml_text(line, value);
    line += "\"/>\n";
    return line;
}

// The schema puts a spectrum's userParams behind its cvParams, before scanList.
std::string user_param(const UserParam& param)
{
    std::string line = R"(          <userParam name=")";
    append_xml_text(line, param.name);
    line += R"(" value=")";
    append_xml_text(line, param.value);
    line += "\" type=\"xsd:string\"/>\n";
    return line;
}

struct PeakSummary {
    double total = 0;
    std::optional<std::size_t> base_peak;  // absent when no intensity is a number
    std::optional<double> lowest_mz;       // absent when no m/z is a number
    std::optional<double> highest_mz;
};

// One pass over both arrays, its dependency chains independent of each
// other; comparisons with NaN are false, so NaN is never a maximum or minimum.
PeakSummary summarize(const melvane_core::SpectrumRecord& s)
{
    PeakSummary summary;
    const std::size_t n = s.intensity.size();
    const float* intensity = s.intensity.data();
    const double* mz = s.mz.data();
    std::size_t best = n;
    float best_value = -std::numeric_limits<float>::infinity();
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        const float v = intensity[i];
        summary.total += v;
        if (v > best_value) {
            best_value = v;
            best = i;
        }
        lowest = mz[i] < lowest ? mz[i] : lowest;
        highest = mz[i] > highest ? mz[i] : highest;
    }
    // Nothing above -INF: the first intensity that is a number, if any.
    for (std::size_t i = 0; best == n && i < n; ++i) {
        if (!std::isnan(intensity[i])) {
            best = i;
        }
    }
    if (best < n) {
        summary.base_peak = best;
    }
    // Only when every m/z is NaN (or there is none) does the range stay inverted.
    if (lowest <= highest) {
        summary.lowest_mz = lowest;
        summary.highest_mz = highest;
    }
    return summary;
}

// `sha1_at` gets where each source file's SHA-1 digits stand in it.
std::string header(const RunDescription& run, const std::vector<FileLocation>& locations,
                   std::vector<std::size_t>& sha1_at)
{
    std::string h = R"(<?xml version="1.0" encoding="utf-8"?>
<indexedmzML xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.2_idx.xsd">
  <mzML xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.0.xsd" version="1.1.0">
    <cvList count="2">
      <cv id="MS" fullName="Proteomics Standards Initiative Mass Spectrometry Ontology" version="4.1.28" URI="https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo"/>
      <cv id="UO" fullName="Unit Ontology" version="12:10:2011" URI="https://raw.githubusercontent.com/bio-ontology-research-group/unit-ontology/master/unit.obo"/>
    </cvList>
    <fileDescription>
      <fileContent>
)";
    if (run.has_ms1) {
        h += cv_param({"MS:1000579", "MS1 spectrum"}, "", "        ");
    }
    if (run.has_msn) {
        h += cv_param({"MS:1000580", "MSn spectrum"}, "", "        ");
    }
    // True of every document, and so also the content of a run without spectra.
    h += cv_param({"MS:1000235", "total ion current chromatogram"}, "", "        ");
    h += "      </fileContent>\n";
    if (!run.source_files.empty()) {
        h += R"(      <sourceFileList count=")" + std::to_string(run.source_files.size()) + "\">\n";
        for (std::size_t i = 0; i < run.source_files.size(); ++i) {
            const SourceFile& file = run.source_files[i];
            h += R"(        <sourceFile id="SF)" + std::to_string(i + 1) + R"(" name=")";
            append_xml_text(h, locations[i].name);
            h += R"(" location=")";
            append_xml_text(h, locations[i].directory_uri);
            h += "\">\n";
            h += cv_param(file.file_format, "", "          ");
            h += cv_param(file.native_id_format, "", "          ");
            if (!file.sha1_hex.empty()) {
                const std::string line = cv_param({"MS:1000569", "SHA-1"}, file.sha1_hex, "          ");
                sha1_at.push_back(h.size() + line.rfind(file.sha1_hex));
                h += line;
            }
            h += "        </sourceFile>\n";
        }
        h += "      </sourceFileList>\n";
    }
    h += "    </fileDescription>\n";
    h += R"(    <softwareList count="1">
      <software id="tarvok" version=")" +
         xml_text(run.software_version) + R"(">
        <cvParam cvRef="MS" accession="MS:1000799" name="custom unreleased software tool" value="tarvok"/>
      </software>
    </softwareList>
    <instrumentConfigurationList count="1">
      <instrumentConfiguration id="instrument_configuration">
        <cvParam cvRef="MS" accession="MS:1000031" name="instrument model" value=""/>
      </instrumentConfiguration>
    </instrumentConfigurationList>
    <dataProcessingList count="1">
      <dataProcessing id="tarvok_conversion">
        <processingMethod order="0" softwareRef="tarvok">
          <cvParam cvRef="MS" accession="MS:1000544" name="Conversion to mzML" value=""/>
        </processingMethod>
      </dataProcessing>
    </dataProcessingList>
)";
    h += R"(    <run id=")" + run_id_for(run) + R"(" defaultInstrumentConfigurationRef=")";
    h += instrument_id;
    h += '"';
    if (!run.source_files.empty()) {
        h += R"( defaultSourceFileRef="SF1")";
    }
    h += ">\n";
    h += R"(      <spectrumList count=")" + std::to_string(run.spectrum_count) + R"(" defaultDataProcessingRef=")";
    h += processing_id;
    h += "\">\n";
    return h;
}

// How an array's bytes were coded before any zlib compression.
enum class Coding { plain, numpress_linear, numpress_integers };

// The one compression term of an array: a numpress array followed by zlib
// carries the combined term, since two compression terms are refused.
std::string_view compression_param(Coding coding, bool zlib)
{
    switch (coding) {
    case Coding::numpress_linear:
        return zlib ? R"(              <cvParam cvRef="MS" accession="MS:1002746" name="MS-Numpress linear prediction compression followed by zlib compression" value=""/>
)"
                    : R"(              <cvParam cvRef="MS" accession="MS:1002312" name="MS-Numpress linear prediction compression" value=""/>
)";
    case Coding::numpress_integers:
        return zlib ? R"(              <cvParam cvRef="MS" accession="MS:1002747" name="MS-Numpress positive integer compression followed by zlib compression" value=""/>
)"
                    : R"(              <cvParam cvRef="MS" accession="MS:1002313" name="MS-Numpress positive integer compression" value=""/>
)";
    case Coding::plain:
        break;
    }
    return zlib ? R"(              <cvParam cvRef="MS" accession="MS:1000574" name="zlib compression" value=""/>
)"
                : R"(              <cvParam cvRef="MS" accession="MS:1000576" name="no compression" value=""/>
)";
}

// What one thread needs to turn spectra into text: each thread has its own.
// The text goes into the document's stream itself, or into a spectrum's
// buffer to be written in its turn.
struct Encoder {
    // The spectrum's element, from "<spectrum" on; returns its total ion current.
    template <class Text>
    double spectrum(Text& out, const melvane_core::SpectrumRecord& s, std::size_t index,
                    std::span<const UserParam> user_params);
    template <class Text>
    void binary_array(Text& out, std::span<const std::byte> coded, Coding coding, std::string_view type_param,
                      std::string_view array_param);

    bool numpress_arrays = false;
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    std::vector<std::byte> packed;  // the compressed array, reused
    NumpressCoder numpress;
    std::vector<unsigned char> numpress_mz;  // the coded arrays, reused
    std::vector<unsigned char> numpress_intensity;
};

// Consecutive spectra on their way through the encoders, from add() to the
// document. A batch, not a spectrum, is the unit of work, so that handing
// work between threads (a wake-up each way) costs little beside encoding it.
struct Batch {
    // Storage is kept across uses: only the first `count` are this batch's.
    std::vector<melvane_core::SpectrumRecord> spectra;
    std::vector<std::vector<UserParam>> user_params;
    std::size_t count = 0;
    std::size_t array_bytes = 0;
    std::size_t first_index = 0;
    TextBuffer text;
    // Per spectrum: where its element starts in the text, and its total ion current.
    std::vector<std::size_t> starts;
    std::vector<double> total_currents;
    bool out_of_memory = false;
};

// A batch is handed on at this many spectra or array bytes, whichever comes
// first: small enough that the threads times a batch stays a few MB, large
// enough that small spectra do not each cost a hand-over.
constexpr std::size_t batch_spectra = 64;
constexpr std::size_t batch_array_bytes = std::size_t{128} << 10;

constexpr std::size_t sha1_hex_digits = 40;
// Buffers the document may fill beyond the usual while the source files
// are hashed: the spectra's encoding goes on for that many half MB meanwhile.
constexpr std::size_t spare_buffers = 8;

// The source files' SHA-1s as the caller learns them, and where the header
// states them.
struct SourceSha1s {
    std::function<std::expected<std::vector<std::string>, int>()> source;
    std::vector<std::size_t> at;

    // Puts the digits in place in the header's text; 0 or an errno.
    int fill(std::span<char> text) const
    {
        const std::expected<std::vector<std::string>, int> sha1s = source();
        if (!sha1s) {
            return sha1s.error();
        }
        if (sha1s->size() != at.size()) {
            return EINVAL;
        }
        for (std::size_t i = 0; i < at.size(); ++i) {
            const std::string& hex = (*sha1s)[i];
            const bool digits = hex.size() == sha1_hex_digits &&
                                std::all_of(hex.begin(), hex.end(), [](char c) {
                                    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                                });
            if (!digits || at[i] + sha1_hex_digits > text.size()) {
                return EINVAL;
            }
            std::copy(hex.begin(), hex.end(), text.begin() + static_cast<std::ptrdiff_t>(at[i]));
        }
        return 0;
    }
};

}  // namespace

struct Writer::State {
    State(ByteSink& sink, RunDescription description)
        : out(sink, buffer_capacity), run(std::move(description))
    {
    }

    // Checks the spectrum as add() documents, and counts it in.
    std::expected<void, int> admit(const melvane_core::SpectrumRecord& s);
    // The batch being filled, once the ring has room for it.
    Batch& filling();
    void start_pool(std::size_t threads);
    // Takes the admitted spectrum's place in the batch being filled; the
    // batch goes to the encoders once full.
    std::expected<void, int> enqueue(Batch& batch, std::span<const UserParam> user_params);
    std::expected<void, int> submit();
    void encode(std::size_t slot, std::size_t thread) noexcept;
    // The oldest batch in flight into the document, waiting for it if need be.
    void retire_oldest();
    void chromatogram();
    void index();
    int error() const { return failure != 0 ? failure : out.error(); }
    std::expected<void, int> status() const
    {
        if (error() != 0) {
            return std::unexpected(error());
        }
        return {};
    }

    OutputStream out;
    RunDescription run;
    std::vector<Encoder> encoders;  // the caller's first
    std::vector<Batch> batches;
    int failure = 0;  // ENOMEM in an encoder
    // Per spectrum, for the chromatogram and the index: nothing else is kept.
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint32_t> scan_numbers;
    std::vector<double> times;
    std::vector<double> currents;
    bool finished = false;
    // Last, so that its workers stop before what they use goes.
    std::unique_ptr<OrderedPool> pool;  // none: spectra are encoded by add() itself
};

template <class Text>
void Encoder::binary_array(Text& out, std::span<const std::byte> coded, Coding coding, std::string_view type_param,
                                 std::string_view array_param)
{
    // No stream at all for an empty array, compressed or not: some readers
    // reject a compressed stream of nothing.
    std::span<const std::byte> data = coded;
    const bool compressed = compressor && !coded.empty();
    if (compressed) {
        packed.resize(libdeflate_zlib_compress_bound(compressor.get(), coded.size()));
        const std::size_t size =
            libdeflate_zlib_compress(compressor.get(), coded.data(), coded.size(), packed.data(), packed.size());
        data = std::span<const std::byte>(packed.data(), size);
    }
    out.put("            <binaryDataArray encodedLength=\"");
    put_unsigned(out, base64_length(data.size()));
    out.put("\">\n");
    out.put(type_param);
    out.put(compression_param(coding, compressed));
    out.put(array_param);
    if (data.empty()) {
        out.put("              <binary/>\n");
    } else {
        out.put("              <binary>");
        out.put_base64(data);
        out.put("</binary>\n");
    }
    out.put("            </binaryDataArray>\n");
}

constexpr std::string_view float64_param =
    R"(              <cvParam cvRef="MS" accession="MS:1000523" name="64-bit float" value=""/>
)";
constexpr std::string_view float32_param =
    R"(              <cvParam cvRef="MS" accession="MS:1000521" name="32-bit float" value=""/>
)";
constexpr std::string_view intensity_array_param =
    R"(              <cvParam cvRef="MS" accession="MS:1000515" name="intensity array" value="" unitCvRef="MS" unitAccession="MS:1000131" unitName="number of detector counts"/>
)";

void Writer::State::chromatogram()
{
    out.put(R"(      <chromatogramList count="1" defaultDataProcessingRef=")");
    out.put(processing_id);
    out.put("\">\n");
    out.put("        ");
    offsets.push_back(out.position());
    out.put(R"(<chromatogram index="0" id="TIC" defaultArrayLength=")");
    put_unsigned(out, times.size());
    out.put(R"(">
          <cvParam cvRef="MS" accession="MS:1000235" name="total ion current chromatogram" value=""/>
          <binaryDataArrayList count="2">
)");
    Encoder& encoder = encoders.front();
    encoder.binary_array(out, std::as_bytes(std::span(times)), Coding::plain, float64_param,
                         R"(              <cvParam cvRef="MS" accession="MS:1000595" name="time array" value="" unitCvRef="UO" unitAccession="UO:0000010" unitName="second"/>
)");
    encoder.binary_array(out, std::as_bytes(std::span(currents)), Coding::plain, float64_param, intensity_array_param);
    out.put("          </binaryDataArrayList>\n        </chromatogram>\n      </chromatogramList>\n");
}

void Writer::State::index()
{
    const std::size_t spectra = scan_numbers.size();
    out.put(spectra > 0 ? "<indexList count=\"2\">\n" : "<indexList count=\"1\">\n");
    if (spectra > 0) {
        out.put("    <index name=\"spectrum\">\n");
        for (std::size_t i = 0; i < spectra; ++i) {
            out.put("      <offset idRef=\"scan=");
            put_unsigned(out, scan_numbers[i]);
            out.put("\">");
            put_unsigned(out, offsets[i]);
            out.put("</offset>\n");
        }
        out.put("    </index>\n");
    }
    out.put("    <index name=\"chromatogram\">\n      <offset idRef=\"");
    out.put(chromatogram_id);
    out.put("\">");
    put_unsigned(out, offsets[spectra]);
    out.put("</offset>\n    </index>\n  </indexList>\n");
}

std::expected<Writer, int> Writer::begin(ByteSink& sink, RunDescription run, std::size_t threads,
                                         std::size_t most_threads)
{
    std::vector<FileLocation> locations;
    for (const SourceFile& file : run.source_files) {
        auto location = locate_file(file.path);
        if (!location) {
            return std::unexpected(location.error());
        }
        locations.push_back(std::move(*location));
    }
    auto state = std::make_unique<State>(sink, std::move(run));
    threads = std::max<std::size_t>(threads, 1);
    // Storage for the most from the start: the workers index it while more join.
    most_threads = std::max(most_threads, threads);
    state->encoders.resize(most_threads);
    for (Encoder& encoder : state->encoders) {
        encoder.numpress_arrays = state->run.numpress;
        if (state->run.zlib) {
            encoder.compressor.reset(libdeflate_alloc_compressor(zlib_level));
            if (!encoder.compressor) {
                return std::unexpected(ENOMEM);
            }
        }
    }
    // Two batches per thread, the most it may get: one being encoded, one
    // waiting its turn. Alone, add() encodes straight into the document.
    state->batches.resize(2 * most_threads);
    if (threads > 1) {
        state->start_pool(threads);
    }
    // The count is the caller's word: reserve for it only up to a bound.
    const std::size_t expected = std::min<std::size_t>(state->run.spectrum_count, std::size_t{1} << 20);
    state->offsets.reserve(expected + 1);
    state->scan_numbers.reserve(expected);
    state->times.reserve(expected);
    state->currents.reserve(expected);
    if (state->run.source_sha1s) {
        // Placeholders, of the digits' own length, filled in before the header is hashed.
        for (SourceFile& file : state->run.source_files) {
            file.sha1_hex.assign(sha1_hex_digits, '0');
        }
    }
    std::vector<std::size_t> sha1_at;
    std::string text = header(state->run, locations, sha1_at);
    if (state->run.source_sha1s) {
        SourceSha1s sha1s{std::move(state->run.source_sha1s), std::move(sha1_at)};
        // The first buffer holds the document's first buffer_capacity bytes: with the digits among
        // them, the spectra are encoded while the files are hashed.
        if (sha1s.at.empty() || sha1s.at.back() + sha1_hex_digits <= buffer_capacity) {
            state->out.before_first_hash([sha1s](std::span<char> first) { return sha1s.fill(first); }, spare_buffers);
        } else if (const int failed = sha1s.fill(text); failed != 0) {
            return std::unexpected(failed);
        }
    }
    state->out.put(text);
    if (state->out.error() != 0) {
        return std::unexpected(state->out.error());
    }
    return Writer(std::move(state));
}

template <class Text>
double Encoder::spectrum(Text& out, const melvane_core::SpectrumRecord& s, std::size_t index,
                         std::span<const UserParam> user_params)
{
    const PeakSummary summary = summarize(s);
    out.put("<spectrum index=\"");
    put_unsigned(out, index);
    out.put("\" id=\"scan=");
    put_unsigned(out, s.scan_number);
    out.put("\" defaultArrayLength=\"");
    put_unsigned(out, s.mz.size());
    out.put("\">\n          <cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"");
    put_unsigned(out, s.ms_level);
    out.put(s.ms_level == 1 ? R"("/>
          <cvParam cvRef="MS" accession="MS:1000579" name="MS1 spectrum" value=""/>
)"
                            : R"("/>
          <cvParam cvRef="MS" accession="MS:1000580" name="MSn spectrum" value=""/>
)");
    out.put(R"(          <cvParam cvRef="MS" accession="MS:1000128" name="profile spectrum" value=""/>
)");
    number_param(out, R"(          <cvParam cvRef="MS" accession="MS:1000285" name="total ion current" value=")",
                 summary.total, "\"/>\n");
    if (summary.base_peak) {
        number_param(out, R"(          <cvParam cvRef="MS" accession="MS:1000504" name="base peak m/z" value=")",
                     s.mz[*summary.base_peak],
                     R"(" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>
)");
        // As a double: that text reads back to the same float too.
        number_param(out, R"(          <cvParam cvRef="MS" accession="MS:1000505" name="base peak intensity" value=")",
                     s.intensity[*summary.base_peak],
                     R"(" unitCvRef="MS" unitAccession="MS:1000131" unitName="number of detector counts"/>
)");
    }
    if (summary.lowest_mz) {
        number_param(out, R"(          <cvParam cvRef="MS" accession="MS:1000528" name="lowest observed m/z" value=")",
                     *summary.lowest_mz,
                     R"(" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>
)");
        number_param(out, R"(          <cvParam cvRef="MS" accession="MS:1000527" name="highest observed m/z" value=")",
                     *summary.highest_mz,
                     R"(" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>
)");
    }
    for (const UserParam& param : user_params) {
        out.put(user_param(param));
    }
    number_param(out, R"(          <scanList count="1">
            <cvParam cvRef="MS" accession="MS:1000795" name="no combination" value=""/>
            <scan>
              <cvParam cvRef="MS" accession="MS:1000016" name="scan start time" value=")",
                 s.retention_time_sec,
                 R"(" unitCvRef="UO" unitAccession="UO:0000010" unitName="second"/>
            </scan>
          </scanList>
          <binaryDataArrayList count="2">
)");
    // Numpress where every value reads back exactly; an empty array has no stream to code.
    const bool numpress_coded = numpress_arrays && !s.mz.empty();
    const bool mz_coded = numpress_coded && numpress.linear(s.mz, numpress_mz);
    const bool intensity_coded = numpress_coded && numpress.integers(s.intensity, numpress_intensity);
    binary_array(out, mz_coded ? std::as_bytes(std::span(numpress_mz)) : std::as_bytes(std::span(s.mz)),
                 mz_coded ? Coding::numpress_linear : Coding::plain, float64_param,
                 R"(              <cvParam cvRef="MS" accession="MS:1000514" name="m/z array" value="" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>
)");
    binary_array(
        out, intensity_coded ? std::as_bytes(std::span(numpress_intensity)) : std::as_bytes(std::span(s.intensity)),
        intensity_coded ? Coding::numpress_integers : Coding::plain, float32_param, intensity_array_param);
    out.put("          </binaryDataArrayList>\n        </spectrum>\n");
    return summary.total;
}

void Writer::State::encode(std::size_t slot, std::size_t thread) noexcept
{
    Batch& batch = batches[slot];
    try {
        batch.text.clear();
        batch.starts.resize(batch.count);
        batch.total_currents.resize(batch.count);
        // The arrays uncompressed and the terms around them: storage grows once, if at all.
        std::size_t expected = 0;
        for (std::size_t k = 0; k < batch.count; ++k) {
            const melvane_core::SpectrumRecord& s = batch.spectra[k];
            expected += base64_length(s.mz.size() * sizeof(double)) + base64_length(s.intensity.size() * sizeof(float)) + 4096;
        }
        batch.text.reserve(expected);
        for (std::size_t k = 0; k < batch.count; ++k) {
            batch.text.put("        ");
            batch.starts[k] = batch.text.text().size();
            batch.total_currents[k] =
                encoders[thread].spectrum(batch.text, batch.spectra[k], batch.first_index + k, batch.user_params[k]);
        }
        batch.out_of_memory = false;
    } catch (const std::exception&) {
        // Only allocation can fail here (bad_alloc, or length_error for a size beyond any).
        batch.out_of_memory = true;
    }
}

void Writer::State::retire_oldest()
{
    Batch& batch = batches[pool->wait_oldest()];
    if (batch.out_of_memory) {
        failure = ENOMEM;
    } else if (failure == 0) {
        const std::uint64_t base = out.position();
        for (std::size_t k = 0; k < batch.count; ++k) {
            offsets.push_back(base + batch.starts[k]);
            currents.push_back(batch.total_currents[k]);
        }
        out.put(batch.text.text());
    }
    batch.count = 0;
    batch.array_bytes = 0;
    pool->release_oldest();
}

std::expected<void, int> Writer::State::admit(const melvane_core::SpectrumRecord& s)
{
    if (error() != 0) {
        return std::unexpected(error());
    }
    if (finished) {
        return std::unexpected(EINVAL);
    }
    // Refused without writing anything: what would make the document wrong.
    const bool level_announced = s.ms_level == 1 ? run.has_ms1 : s.ms_level >= 2 && run.has_msn;
    const bool id_unique = scan_numbers.empty() || s.scan_number > scan_numbers.back();
    if (scan_numbers.size() == run.spectrum_count || s.mz.size() != s.intensity.size() || s.mz.size() > INT_MAX ||
        !level_announced || !id_unique) {
        return std::unexpected(EINVAL);
    }
    scan_numbers.push_back(s.scan_number);
    times.push_back(s.retention_time_sec);
    return {};
}

Batch& Writer::State::filling()
{
    while (pool->full()) {
        retire_oldest();
    }
    Batch& batch = batches[pool->next_slot()];
    if (batch.count == batch.spectra.size()) {
        batch.spectra.emplace_back();
        batch.user_params.emplace_back();
    }
    return batch;
}

std::expected<void, int> Writer::State::enqueue(Batch& batch, std::span<const UserParam> user_params)
{
    if (batch.count == 0) {
        batch.first_index = scan_numbers.size() - 1;
    }
    const melvane_core::SpectrumRecord& s = batch.spectra[batch.count];
    batch.user_params[batch.count].assign(user_params.begin(), user_params.end());
    batch.array_bytes += s.mz.size() * sizeof(double) + s.intensity.size() * sizeof(float);
    ++batch.count;
    if (batch.count < batch_spectra && batch.array_bytes < batch_array_bytes) {
        return status();
    }
    return submit();
}

std::expected<void, int> Writer::State::submit()
{
    pool->submit();
    // What is ready goes out now, so that writing keeps pace with encoding.
    while (!pool->empty() && pool->oldest_done()) {
        retire_oldest();
    }
    return status();
}

std::expected<void, int> Writer::add(const melvane_core::SpectrumRecord& s, std::span<const UserParam> user_params)
{
    if (!state_) {
        return std::unexpected(EINVAL);
    }
    State& st = *state_;
    if (auto admitted = st.admit(s); !admitted) {
        return admitted;
    }
    if (!st.pool) {
        // Straight into the document.
        st.out.put("        ");
        st.offsets.push_back(st.out.position());
        st.currents.push_back(st.encoders.front().spectrum(st.out, s, st.scan_numbers.size() - 1, user_params));
        return st.status();
    }
    // Only what the encoder reads.
    Batch& batch = st.filling();
    melvane_core::SpectrumRecord& kept = batch.spectra[batch.count];
    kept.scan_number = s.scan_number;
    kept.ms_level = s.ms_level;
    kept.retention_time_sec = s.retention_time_sec;
    kept.mz.assign(s.mz.begin(), s.mz.end());
    kept.intensity.assign(s.intensity.begin(), s.intensity.end());
    return st.enqueue(batch, user_params);
}

std::expected<void, int> Writer::take(melvane_core::SpectrumRecord& spectrum, std::span<const UserParam> user_params)
{
    if (!state_ || !state_->pool) {
        return add(spectrum, user_params);
    }
    State& st = *state_;
    if (auto admitted = st.admit(spectrum); !admitted) {
        return admitted;
    }
    Batch& batch = st.filling();
    std::swap(batch.spectra[batch.count], spectrum);
    return st.enqueue(batch, user_params);
}

std::expected<void, int> Writer::finish()
{
    if (!state_) {
        return std::unexpected(EINVAL);
    }
    State& st = *state_;
    if (st.error() != 0) {
        return std::unexpected(st.error());
    }
    if (st.finished || st.scan_numbers.size() != st.run.spectrum_count) {
        return std::unexpected(EINVAL);
    }
    // A batch part filled is there only while the ring has room.
    if (st.pool && !st.pool->full() && st.batches[st.pool->next_slot()].count > 0) {
        st.pool->submit();
    }
    while (st.pool && !st.pool->empty()) {
        st.retire_oldest();
    }
    if (st.error() != 0) {
        return std::unexpected(st.error());
    }
    st.finished = true;
    OutputStream& out = st.out;
    out.put("      </spectrumList>\n");
    st.chromatogram();
    out.put("    </run>\n  </mzML>\n");
    out.put("  ");
    const std::uint64_t index_offset = out.position();
    st.index();
    out.put("  <indexListOffset>");
    put_unsigned(out, index_offset);
    out.put("</indexListOffset>\n  <fileChecksum>");
    const std::string checksum = out.take_checksum();
    out.put(checksum);
    out.put("</fileChecksum>\n</indexedmzML>\n");
    out.flush();
    if (out.error() != 0) {
        return std::unexpected(out.error());
    }
    return {};
}

void Writer::State::start_pool(std::size_t threads)
{
    pool = std::make_unique<OrderedPool>(threads, batches.size(),
                                         [this](std::size_t slot, std::size_t thread) { encode(slot, thread); });
}

void Writer::raise_threads(std::size_t threads)
{
    if (!state_) {
        return;
    }
    threads = std::min(threads, state_->encoders.size());
    // Nothing is in flight on the straight path: the pool can take over at any spectrum.
    if (state_->pool) {
        state_->pool->grow(threads);
    } else if (threads > 1) {
        state_->start_pool(threads);
    }
}

std::uint64_t Writer::bytes_written() const { return state_ ? state_->out.position() : 0; }

Writer::Writer(std::unique_ptr<State> state) : state_(std::move(state)) {}
Writer::Writer(Writer&&) noexcept = default;
Writer& Writer::operator=(Writer&&) noexcept = default;
Writer::~Writer() = default;

}  // namespace mzml
