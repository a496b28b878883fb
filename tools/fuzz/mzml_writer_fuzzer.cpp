// The mzML writer on arbitrary names, paths, times, values and user params, with or without Numpress,
// threads, take() and SHA-1s learnt later: the document
// must be well-formed, its ids unique with the run's an NCName, every index
// offset must point at the element it names and the checksum must hold.
#include <glib.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "melvane_core/spectrum_record.hpp"
#include "mzml/writer.hpp"
#include "report.hpp"
#include "stderr_trap.hpp"

namespace {

// Reads the input front to back; past its end every read gives zeros.
class Input {
public:
    explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }

    std::string text()
    {
        std::string t(byte(), '\0');
        for (char& c : t) {
            c = static_cast<char>(byte());
        }
        return t;
    }

    template <typename T>
    T raw()
    {
        std::uint8_t buffer[sizeof(T)];
        for (std::uint8_t& b : buffer) {
            b = byte();
        }
        T value;
        std::memcpy(&value, buffer, sizeof value);
        return value;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

class MemorySink : public mzml::ByteSink {
public:
    std::expected<void, int> write(std::span<const char> bytes) override
    {
        document.append(bytes.data(), bytes.size());
        return {};
    }
    std::string document;
};

// What the source of SHA-1s learnt later gives for every file.
const std::string late_sha1 = "0123456789abcdef0123456789abcdef01234567";

struct Planned {
    mzml::RunDescription run;
    std::size_t threads = 1;
    bool take = false;  // take() on a copy of each spectrum, not add()
    bool late_sha1s = false;
    std::vector<melvane_core::SpectrumRecord> spectra;
    std::vector<std::vector<mzml::UserParam>> user_params;  // per spectrum
};

// Only spectra the writer accepts: its refusals have tests of their own.
Planned plan(Input& in)
{
    Planned p;
    const std::uint8_t flags = in.byte();
    p.run.zlib = (flags & 1) != 0;
    p.run.numpress = (flags & 16) != 0;
    p.threads = 1 + (flags >> 5 & 3);
    p.take = (flags & 128) != 0;
    p.run.sample_name = in.text();
    for (int i = 0; i < (flags >> 1 & 3); ++i) {
        p.run.source_files.push_back({.path = in.text(),
                                      .sha1_hex = (flags & 8) != 0 ? std::string(40, 'a') : "",
                                      .file_format = {"MS:1000562", "ABI WIFF format"},
                                      .native_id_format = {"MS:1000776", "scan number only nativeID format"}});
    }
    p.run.software_version = in.text();
    // The count's byte has bits to spare: the flags' are all taken.
    const std::uint8_t count_byte = in.byte();
    const std::size_t count = count_byte % 8;
    p.late_sha1s = (count_byte & 8) != 0;
    if (p.late_sha1s) {
        p.run.source_sha1s = [files = p.run.source_files.size()] {
            return std::expected<std::vector<std::string>, int>(std::vector<std::string>(files, late_sha1));
        };
    }
    std::uint32_t scan = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t step = in.raw<std::uint16_t>() + 1U;
        if (scan > UINT32_MAX - step) {
            break;
        }
        scan += step;
        melvane_core::SpectrumRecord s;
        s.scan_number = scan;
        s.ms_level = 1 + in.byte() % 3;
        s.retention_time_sec = in.raw<double>();
        const std::size_t peaks = in.byte() % 24;
        for (std::size_t k = 0; k < peaks; ++k) {
            s.mz.push_back(in.raw<double>());
            s.intensity.push_back(in.raw<float>());
        }
        std::vector<mzml::UserParam> params(in.byte() % 3);
        for (mzml::UserParam& param : params) {
            param.name = in.text();
            param.value = in.text();
        }
        (s.ms_level == 1 ? p.run.has_ms1 : p.run.has_msn) = true;
        p.spectra.push_back(std::move(s));
        p.user_params.push_back(std::move(params));
    }
    p.run.spectrum_count = p.spectra.size();
    return p;
}

std::string errors;

void collect_error(void*, xmlErrorPtr error)
{
    errors += error->message != nullptr ? error->message : "(no message)";
}

std::string attribute(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

bool named(xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

struct Found {
    std::set<std::string> ids;
    std::string run_id;
    std::vector<std::string> spectrum_ids;
    // (index name, idRef, offset text) of each offset element
    std::vector<std::array<std::string, 3>> offsets;
    std::string index_list_offset;
};

void walk(xmlNode* node, Found& found, const std::string& index_name)
{
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (xmlHasProp(node, reinterpret_cast<const xmlChar*>("id")) != nullptr) {
            const std::string id = attribute(node, "id");
            if (!found.ids.insert(id).second) {
                fuzz::fail("the id '" + id + "' appears twice");
            }
            if (named(node, "run")) {
                found.run_id = id;
            }
            if (named(node, "spectrum")) {
                found.spectrum_ids.push_back(id);
            }
        }
        if (named(node, "offset")) {
            xmlChar* content = xmlNodeGetContent(node);
            found.offsets.push_back({index_name, attribute(node, "idRef"), reinterpret_cast<const char*>(content)});
            xmlFree(content);
        }
        if (named(node, "indexListOffset")) {
            xmlChar* content = xmlNodeGetContent(node);
            found.index_list_offset = reinterpret_cast<const char*>(content);
            xmlFree(content);
        }
        walk(node->children, found, named(node, "index") ? attribute(node, "name") : index_name);
    }
}

std::size_t offset_in(const std::string& document, const std::string& text)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) {
        fuzz::fail("the offset '" + text + "' is no number");
    }
    const std::size_t offset = std::stoull(text);
    if (offset >= document.size()) {
        fuzz::fail("the offset " + text + " is past the document's end");
    }
    return offset;
}

// The start tag at the offset is the element's, and carries the id.
void check_points_at(const std::string& document, std::size_t offset, const std::string& element,
                     const std::string& id)
{
    const std::string open = "<" + element + " ";
    const std::size_t end = document.find('>', offset);
    const std::string_view tag = std::string_view(document).substr(offset, end - offset);
    if (!tag.starts_with(open) || tag.find(" id=\"" + id + "\"") == std::string_view::npos) {
        fuzz::fail("the offset " + std::to_string(offset) + " of " + id + " points at '" +
                   std::string(tag.substr(0, 60)) + "'");
    }
}

void check_checksum(const std::string& document)
{
    const std::string_view open = "<fileChecksum>";
    const std::size_t at = document.rfind(open);
    if (at == std::string::npos) {
        fuzz::fail("no fileChecksum");
    }
    const std::size_t covered = at + open.size();
    gchar* sha1 = g_compute_checksum_for_data(G_CHECKSUM_SHA1, reinterpret_cast<const guchar*>(document.data()),
                                              covered);
    const bool same = document.compare(covered, 40, sha1) == 0;
    g_free(sha1);
    if (!same) {
        fuzz::fail("the fileChecksum is not the SHA-1 of what precedes it");
    }
}

void check(const std::string& document, const Planned& planned)
{
    errors.clear();
    xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "fuzz.mzML", nullptr,
                                XML_PARSE_NONET | XML_PARSE_HUGE);
    if (doc == nullptr || !errors.empty()) {
        xmlFreeDoc(doc);
        fuzz::fail("the document is not well-formed: " + errors);
    }
    Found found;
    walk(xmlDocGetRootElement(doc), found, "");
    xmlFreeDoc(doc);

    if (xmlValidateNCName(reinterpret_cast<const xmlChar*>(found.run_id.c_str()), 0) != 0) {
        fuzz::fail("the run id '" + found.run_id + "' is no NCName");
    }
    if (found.spectrum_ids.size() != planned.spectra.size()) {
        fuzz::fail(std::to_string(found.spectrum_ids.size()) + " spectra parsed of " +
                   std::to_string(planned.spectra.size()));
    }
    std::vector<std::string> indexed_spectra;
    for (const auto& [index, id, text] : found.offsets) {
        const std::size_t offset = offset_in(document, text);
        if (index == "spectrum") {
            indexed_spectra.push_back(id);
            check_points_at(document, offset, "spectrum", id);
        } else if (index == "chromatogram") {
            check_points_at(document, offset, "chromatogram", id);
        } else {
            fuzz::fail("an offset in the index '" + index + "'");
        }
    }
    if (indexed_spectra != found.spectrum_ids) {
        fuzz::fail("the spectrum index does not list every spectrum in order");
    }
    if (document.compare(offset_in(document, found.index_list_offset), 11, "<indexList ") != 0) {
        fuzz::fail("the indexListOffset does not point at <indexList");
    }
    check_checksum(document);
    if (planned.late_sha1s) {
        const std::string term = R"(accession="MS:1000569" name="SHA-1" value=")" + late_sha1 + '"';
        std::size_t terms = 0;
        for (std::size_t at = document.find(term); at != std::string::npos; at = document.find(term, at + 1)) {
            ++terms;
        }
        if (terms != planned.run.source_files.size()) {
            fuzz::fail(std::to_string(terms) + " SHA-1s learnt later in the document of " +
                       std::to_string(planned.run.source_files.size()));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::StderrTrap trap;
    static const bool quiet_parser = [] {
        xmlSetStructuredErrorFunc(nullptr, collect_error);
        return true;
    }();
    (void)quiet_parser;
    Input in(std::span(data, size));
    const Planned planned = plan(in);
    MemorySink sink;
    {
        auto writer = mzml::Writer::begin(sink, planned.run, planned.threads);
        if (!writer) {
            // Only a relative path with no working directory fails here.
            fuzz::fail("begin failed: errno " + std::to_string(writer.error()));
        }
        for (std::size_t i = 0; i < planned.spectra.size(); ++i) {
            // Every field plan() sets; the record itself is move-only.
            const melvane_core::SpectrumRecord& s = planned.spectra[i];
            melvane_core::SpectrumRecord copy;
            if (planned.take) {
                copy.scan_number = s.scan_number;
                copy.ms_level = s.ms_level;
                copy.retention_time_sec = s.retention_time_sec;
                copy.mz = s.mz;
                copy.intensity = s.intensity;
            }
            const auto added = planned.take ? writer->take(copy, planned.user_params[i])
                                            : writer->add(s, planned.user_params[i]);
            if (!added) {
                fuzz::fail("add refused scan " + std::to_string(planned.spectra[i].scan_number));
            }
        }
        if (!writer->finish()) {
            fuzz::fail("finish failed");
        }
    }
    check(sink.document, planned);
    trap.check();
    return 0;
}
