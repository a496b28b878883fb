#include <glib.h>
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <string>
#include <vector>

#include "mzml/writer.hpp"
#include "memory_sink.hpp"
#include "synthetic_spectra.hpp"

namespace {

using melvane_core::SpectrumRecord;
using mzml_tests::MemorySink;

SpectrumRecord spectrum(std::uint32_t scan, std::uint32_t level, std::vector<double> mz, std::vector<float> intensity)
{
    SpectrumRecord s;
    s.scan_number = scan;
    s.ms_level = level;
    s.retention_time_sec = scan * 1.5;
    s.mz = std::move(mz);
    s.intensity = std::move(intensity);
    return s;
}

mzml::RunDescription run_for(std::size_t count, bool zlib)
{
    mzml::RunDescription run;
    run.sample_name = "s";
    run.spectrum_count = count;
    run.has_ms1 = true;
    run.has_msn = true;
    run.zlib = zlib;
    run.software_version = "1";
    return run;
}

std::string document(const std::vector<SpectrumRecord>& spectra, bool zlib)
{
    MemorySink sink;
    auto writer = mzml::Writer::begin(sink, run_for(spectra.size(), zlib));
    EXPECT_TRUE(writer.has_value());
    for (const SpectrumRecord& s : spectra) {
        EXPECT_TRUE(writer->add(s).has_value());
    }
    EXPECT_TRUE(writer->finish().has_value());
    EXPECT_EQ(writer->bytes_written(), sink.text.size());
    return sink.text;
}

SpectrumRecord copy_of(const SpectrumRecord& s)
{
    SpectrumRecord copy = spectrum(s.scan_number, s.ms_level, s.mz, s.intensity);
    copy.retention_time_sec = s.retention_time_sec;
    return copy;
}

std::string element(const std::string& doc, const std::string& start, const std::string& end)
{
    const std::size_t from = doc.find(start);
    if (from == std::string::npos) {
        ADD_FAILURE() << "no " << start;
        return {};
    }
    return doc.substr(from, doc.find(end, from) + end.size() - from);
}

std::string spectrum_element(const std::string& doc, std::uint32_t scan)
{
    return element(doc, "id=\"scan=" + std::to_string(scan) + "\"", "</spectrum>");
}

// The bytes of each binaryDataArray in order, decoded with GLib and inflated with libdeflate.
std::vector<std::string> arrays(const std::string& part, std::size_t expected_size_hint = 0)
{
    std::vector<std::string> found;
    for (std::size_t at = 0; (at = part.find("<binaryDataArray encodedLength=\"", at)) != std::string::npos;) {
        const std::string array = element(part.substr(at), "<binaryDataArray ", "</binaryDataArray>");
        at += array.size();
        const std::size_t encoded_length = std::stoul(array.substr(array.find('"') + 1));
        std::string base64;
        if (array.find("<binary/>") == std::string::npos) {
            const std::size_t open = array.find("<binary>") + 8;
            base64 = array.substr(open, array.find("</binary>") - open);
        }
        EXPECT_EQ(base64.size(), encoded_length);
        gsize size = 0;
        guchar* raw = g_base64_decode(base64.c_str(), &size);
        std::string bytes(reinterpret_cast<char*>(raw), size);
        g_free(raw);
        if (array.find("MS:1000574") != std::string::npos) {
            EXPECT_FALSE(bytes.empty()) << "a compressed stream of nothing";
            std::string inflated(std::max<std::size_t>(expected_size_hint, 64), '\0');
            libdeflate_decompressor* d = libdeflate_alloc_decompressor();
            std::size_t actual = 0;
            libdeflate_result r;
            while ((r = libdeflate_zlib_decompress(d, bytes.data(), bytes.size(), inflated.data(), inflated.size(),
                                                   &actual)) == LIBDEFLATE_INSUFFICIENT_SPACE) {
                inflated.resize(inflated.size() * 2);
            }
            libdeflate_free_decompressor(d);
            EXPECT_EQ(r, LIBDEFLATE_SUCCESS);
            inflated.resize(actual);
            bytes = inflated;
        } else {
            EXPECT_NE(array.find("MS:1000576"), std::string::npos);
        }
        found.push_back(bytes);
    }
    return found;
}

template <typename T>
std::string bytes_of(const std::vector<T>& v)
{
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

class BothModes : public ::testing::TestWithParam<bool> {};

TEST_P(BothModes, EmptySpectrumHasEmptyArraysAndNoPeakValues)
{
    std::vector<SpectrumRecord> spectra;
    spectra.push_back(spectrum(1, 2, {}, {}));
    const std::string doc = document(spectra, GetParam());
    const std::string s = spectrum_element(doc, 1);
    EXPECT_NE(s.find("defaultArrayLength=\"0\""), std::string::npos);
    EXPECT_NE(s.find(R"(name="total ion current" value="0")"), std::string::npos);
    for (const char* absent : {"base peak", "lowest observed", "highest observed", "zlib", "<binary>"}) {
        EXPECT_EQ(s.find(absent), std::string::npos) << absent;
    }
    const auto found = arrays(s);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_TRUE(found[0].empty() && found[1].empty());
}

TEST_P(BothModes, ArraysAndChromatogramReadBackExactly)
{
    std::vector<SpectrumRecord> spectra = mzml_documents::edge_case_spectra();
    std::uint32_t scan = spectra.back().scan_number;
    for (const std::size_t peaks : {1U, 2U, 3U, 4U, 1000U, 300'000U}) {
        spectra.push_back(mzml_documents::random_spectrum(peaks, ++scan, peaks));
    }
    const std::string doc = document(spectra, GetParam());
    std::vector<double> times;
    std::vector<double> currents;
    for (const SpectrumRecord& s : spectra) {
        const auto found = arrays(spectrum_element(doc, s.scan_number), s.mz.size() * 8);
        ASSERT_EQ(found.size(), 2U);
        EXPECT_EQ(found[0], bytes_of(s.mz)) << "m/z of scan " << s.scan_number;
        EXPECT_EQ(found[1], bytes_of(s.intensity)) << "intensity of scan " << s.scan_number;
        times.push_back(s.retention_time_sec);
        double total = 0;
        for (const float v : s.intensity) {
            total += v;
        }
        currents.push_back(total);
    }
    const auto tic = arrays(element(doc, "<chromatogram ", "</chromatogram>"), times.size() * 8);
    ASSERT_EQ(tic.size(), 2U);
    EXPECT_EQ(tic[0], bytes_of(times));
    EXPECT_EQ(tic[1], bytes_of(currents));
}

INSTANTIATE_TEST_SUITE_P(Compression, BothModes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "zlib" : "uncompressed"; });

TEST(Writer, PeakValues)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float finf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        std::vector<double> mz;
        std::vector<float> intensity;
        std::vector<std::string> params;  // present, in order
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"first of equal maxima",
         {100, 200, 300},
         {1, 5, 5},
         {R"("total ion current" value="11")", R"("base peak m/z" value="200")", R"("base peak intensity" value="5")",
          R"("lowest observed m/z" value="100")", R"("highest observed m/z" value="300")"},
         {}},
        {"unsorted m/z",
         {300, 100.25, 200},
         {0.5f, 0, 0},
         {R"("base peak m/z" value="300")", R"("lowest observed m/z" value="100.25")",
          R"("highest observed m/z" value="300")"},
         {}},
        {"NaN intensities are no base peak",
         {1, 2, 3},
         {nan, 2, nan},
         {R"("total ion current" value="NaN")", R"("base peak m/z" value="2")"},
         {}},
        {"no intensity is a number", {1, 2}, {nan, nan}, {R"("lowest observed m/z" value="1")"}, {"base peak"}},
        {"nothing above -INF", {1, 2, 3}, {nan, -finf, -finf}, {R"("base peak m/z" value="2")", R"("base peak intensity" value="-INF")"}, {}},
        {"infinite m/z",
         {std::numeric_limits<double>::infinity(), std::nan("")},
         {1, 2},
         {R"("lowest observed m/z" value="INF")", R"("highest observed m/z" value="INF")"},
         {}},
        {"no m/z is a number",
         {std::nan(""), std::nan("")},
         {1, 2},
         {R"("base peak m/z" value="NaN")"},
         {"lowest observed", "highest observed"}},
        {"float intensity as the double it is", {7}, {0.1f}, {R"("base peak intensity" value="0.10000000149011612")"}, {}},
    };
    for (const Case& c : cases) {
        std::vector<SpectrumRecord> one;
        one.push_back(spectrum(1, 1, c.mz, c.intensity));
        const std::string s = spectrum_element(document(one, false), 1);
        std::size_t at = 0;
        for (const std::string& p : c.params) {
            at = s.find(p, at);
            EXPECT_NE(at, std::string::npos) << c.what << ": " << p;
        }
        for (const std::string& a : c.absent) {
            EXPECT_EQ(s.find(a), std::string::npos) << c.what << ": " << a;
        }
    }
}

// After the spectrum's own terms and before scanList, as the schema orders them; escaped like every text.
TEST(Writer, UserParamsFollowTheTermsOfTheirSpectrumOnly)
{
    MemorySink sink;
    auto writer = mzml::Writer::begin(sink, run_for(2, false));
    ASSERT_TRUE(writer.has_value());
    const mzml::UserParam params[] = {{"damaged scan block", "no <terminator> & \"more\""}, {"second", ""}};
    ASSERT_TRUE(writer->add(spectrum(1, 1, {5}, {2}), params).has_value());
    ASSERT_TRUE(writer->add(spectrum(2, 2, {5}, {2})).has_value());
    ASSERT_TRUE(writer->finish().has_value());
    const std::string first = spectrum_element(sink.text, 1);
    const std::string expected =
        R"(name="highest observed m/z" value="5" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>
          <userParam name="damaged scan block" value="no &lt;terminator&gt; &amp; &quot;more&quot;" type="xsd:string"/>
          <userParam name="second" value="" type="xsd:string"/>
          <scanList count="1">)";
    EXPECT_NE(first.find(expected), std::string::npos) << first;
    EXPECT_EQ(spectrum_element(sink.text, 2).find("userParam"), std::string::npos);
}

TEST(Writer, RefusesWhatWouldBreakTheDocumentAndWritesNothingOfIt)
{
    MemorySink sink;
    mzml::RunDescription run = run_for(2, false);
    run.has_msn = false;
    auto writer = mzml::Writer::begin(sink, run);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->add(spectrum(5, 1, {1}, {1})).has_value());
    const std::uint64_t before = writer->bytes_written();
    struct Case {
        const char* what;
        SpectrumRecord s;
    };
    Case cases[] = {
        {"arrays of different lengths", spectrum(6, 1, {1, 2}, {1})},
        {"MS level not announced", spectrum(6, 2, {}, {})},
        {"MS level 0", spectrum(6, 0, {}, {})},
        {"repeated scan number", spectrum(5, 1, {}, {})},
        {"decreasing scan number", spectrum(4, 1, {}, {})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(writer->add(c.s).error(), EINVAL) << c.what;
        EXPECT_EQ(writer->bytes_written(), before) << c.what;
    }
    EXPECT_EQ(writer->finish().error(), EINVAL) << "one spectrum short";
    ASSERT_TRUE(writer->add(spectrum(6, 1, {}, {})).has_value());
    EXPECT_EQ(writer->add(spectrum(7, 1, {}, {})).error(), EINVAL) << "one more than announced";
    ASSERT_TRUE(writer->finish().has_value());
    EXPECT_EQ(writer->finish().error(), EINVAL);
    EXPECT_EQ(writer->add(spectrum(8, 1, {}, {})).error(), EINVAL);
    EXPECT_EQ(sink.text.substr(sink.text.size() - 15), "</indexedmzML>\n");

    mzml::Writer moved = std::move(*writer);
    EXPECT_EQ(writer->add(spectrum(9, 1, {}, {})).error(), EINVAL);
    EXPECT_EQ(writer->bytes_written(), 0U);
}

// Spectra of every size from none to 40,000 peaks, in no order of size, a few
// with user params: more than the encoders' ring holds at once, in batches
// closed by their bytes and, for the small ones at the end, by their count.
std::vector<SpectrumRecord> varied_spectra()
{
    std::vector<SpectrumRecord> spectra;
    std::uint32_t scan = 0;
    for (std::uint32_t i = 0; i < 350; ++i) {
        const std::size_t peaks = i >= 150 ? i % 20 : i % 7 == 0 ? 0 : i % 31 == 1 ? 40'000 : (i * 7919U) % 3000;
        spectra.push_back(mzml_documents::random_spectrum(i, scan += 1 + i % 3, peaks));
        spectra.back().ms_level = 1 + i % 2;
    }
    return spectra;
}

// Spectra encoded on any number of threads, added or taken, make the same
// document, also when the writer gets more threads part way.
TEST(ThreadedWriter, SameBytesForAnyThreadCount)
{
    const std::vector<SpectrumRecord> spectra = varied_spectra();
    const mzml::UserParam mark[] = {{"damaged scan block", "reason"}};
    const auto params_of = [&](const SpectrumRecord& s) {
        return s.scan_number % 5 == 0 ? std::span<const mzml::UserParam>(mark) : std::span<const mzml::UserParam>();
    };
    for (const bool zlib : {false, true}) {
        MemorySink single;
        {
            auto writer = mzml::Writer::begin(single, run_for(spectra.size(), zlib));
            ASSERT_TRUE(writer.has_value());
            for (const SpectrumRecord& s : spectra) {
                ASSERT_TRUE(writer->add(s, params_of(s)).has_value());
            }
            ASSERT_TRUE(writer->finish().has_value());
        }
        ASSERT_NE(single.text.find("<userParam"), std::string::npos);
        // {threads at first, threads from a third of the spectra on}
        const std::pair<std::size_t, std::size_t> plans[] = {{2, 2}, {3, 3}, {4, 4}, {8, 8}, {1, 4}, {2, 3}};
        for (const auto [threads, raised] : plans) {
            for (const bool take : {false, true}) {
                MemorySink sink;
                auto writer = mzml::Writer::begin(sink, run_for(spectra.size(), zlib), threads, raised);
                ASSERT_TRUE(writer.has_value());
                SpectrumRecord held;
                for (const SpectrumRecord& s : spectra) {
                    if (&s == &spectra[spectra.size() / 3]) {
                        writer->raise_threads(raised);
                    }
                    if (take) {
                        // Refilled in whatever storage came back, as a reader refills its record.
                        held.mz.assign(s.mz.begin(), s.mz.end());
                        held.intensity.assign(s.intensity.begin(), s.intensity.end());
                        held.scan_number = s.scan_number;
                        held.ms_level = s.ms_level;
                        held.retention_time_sec = s.retention_time_sec;
                        ASSERT_TRUE(writer->take(held, params_of(s)).has_value());
                    } else {
                        ASSERT_TRUE(writer->add(s, params_of(s)).has_value());
                    }
                }
                ASSERT_TRUE(writer->finish().has_value());
                EXPECT_EQ(writer->bytes_written(), sink.text.size());
                EXPECT_TRUE(sink.text == single.text)
                    << threads << " then " << raised << " threads, " << (take ? "take" : "add")
                    << (zlib ? ", zlib" : "");
            }
        }
    }
}

// A refused spectrum is neither taken nor queued: the caller keeps it whole.
TEST(ThreadedWriter, RefusedTakeLeavesTheSpectrum)
{
    MemorySink sink;
    auto writer = mzml::Writer::begin(sink, run_for(3, false), 2);
    ASSERT_TRUE(writer.has_value());
    SpectrumRecord first = spectrum(4, 1, {1, 2}, {3, 4});
    ASSERT_TRUE(writer->take(first).has_value());
    SpectrumRecord repeated = spectrum(4, 1, {5, 6, 7}, {8, 9, 10});
    EXPECT_EQ(writer->take(repeated).error(), EINVAL);
    EXPECT_EQ(repeated.mz, (std::vector<double>{5, 6, 7}));
    EXPECT_EQ(repeated.intensity, (std::vector<float>{8, 9, 10}));
    EXPECT_EQ(writer->finish().error(), EINVAL) << "two spectra short";
}

class Threads : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Threads, FailedWriteIsFinal)
{
    for (const std::size_t fail_after : {0U, 100U, 5'000U, 2'000'000U}) {
        MemorySink sink(fail_after);
        std::vector<SpectrumRecord> spectra;
        for (std::uint32_t scan = 1; scan <= 8; ++scan) {
            spectra.push_back(mzml_documents::random_spectrum(scan, scan, 100'000));
        }
        auto writer = mzml::Writer::begin(sink, run_for(spectra.size(), false), GetParam());
        int failure = writer ? 0 : writer.error();
        for (std::size_t i = 0; failure == 0 && i < spectra.size(); ++i) {
            if (auto added = writer->add(spectra[i]); !added) {
                failure = added.error();
            }
        }
        if (failure == 0) {
            failure = writer->finish().error();
        }
        EXPECT_EQ(failure, ENOSPC) << fail_after;
        const int calls = sink.calls;
        if (writer) {
            EXPECT_EQ(writer->finish().error(), ENOSPC);
            EXPECT_EQ(writer->add(spectra[0]).error(), ENOSPC);
        }
        EXPECT_EQ(sink.calls, calls) << "written after the failure";
        EXPECT_LE(sink.text.size(), fail_after);
    }
}

// Bytes are written behind the writer, on another thread: one dropped before
// finish stops it (and its encoders) without waiting for the sink to take the
// rest, and what the sink got is the start of the document, in order.
TEST_P(Threads, AbandonedWriterStopsAndLeavesAPrefix)
{
    std::vector<SpectrumRecord> spectra;
    for (std::uint32_t scan = 1; scan <= 12; ++scan) {
        spectra.push_back(mzml_documents::random_spectrum(scan, scan, 100'000));
    }
    const std::string whole = document(spectra, false);
    for (const std::size_t added : {0U, 1U, 5U, 12U}) {
        MemorySink sink;
        {
            auto writer = mzml::Writer::begin(sink, run_for(spectra.size(), false), GetParam());
            ASSERT_TRUE(writer.has_value());
            for (std::size_t i = 0; i < added; ++i) {
                SpectrumRecord s = copy_of(spectra[i]);
                ASSERT_TRUE(writer->take(s).has_value());
            }
        }
        EXPECT_LT(sink.text.size(), whole.size()) << added;
        EXPECT_EQ(whole.compare(0, sink.text.size(), sink.text), 0) << added;
    }
}

INSTANTIATE_TEST_SUITE_P(Writer, Threads, ::testing::Values(1U, 4U),
                         [](const auto& info) { return std::to_string(info.param) + "_threads"; });

}  // namespace

namespace {

std::string run_id_of(const std::string& sample_name, std::size_t source_files)
{
    mzml::RunDescription run = run_for(0, false);
    run.sample_name = sample_name;
    for (std::size_t i = 0; i < source_files; ++i) {
        run.source_files.push_back({"/d/f" + std::to_string(i), "", {"MS:1000562", "f"}, {"MS:1000776", "n"}});
    }
    MemorySink sink;
    auto writer = mzml::Writer::begin(sink, run);
    EXPECT_TRUE(writer.has_value() && writer->finish().has_value());
    const std::size_t from = sink.text.find("<run id=\"") + 9;
    return sink.text.substr(from, sink.text.find('"', from) - from);
}

}  // namespace

TEST(Writer, RunIdNeverEqualsAnIdOfTheDocumentsOwn)
{
    const std::pair<std::string, std::string> cases[] = {
        {"tarvok", "_tarvok"},
        {"SF1", "_SF1"},
        {"SF2", "_SF2"},
        {"instrument_configuration", "_instrument_configuration"},
        {"tarvok_conversion", "_tarvok_conversion"},
        {"TIC", "_TIC"},
        {"MS", "_MS"},
        {"UO", "_UO"},
        // Clashes only once derived.
        {"tarvok conversion", "_tarvok_conversion"},
        // No clash: as derived.
        {"SF3", "SF3"},
        {"SF01", "SF01"},
        {"_tarvok", "_tarvok"},
        {"Tarvok", "Tarvok"},
        {"tic", "tic"},
        {"7 mix", "_7_mix"},
    };
    for (const auto& [name, id] : cases) {
        EXPECT_EQ(run_id_of(name, 2), id) << name;
    }
    // The source files' ids are as many as the files.
    EXPECT_EQ(run_id_of("SF1", 0), "SF1");
    EXPECT_EQ(run_id_of("SF3", 3), "_SF3");
}

namespace {

const std::string sha1_a(40, 'a');
const std::string sha1_b = "0123456789abcdef0123456789abcdef01234567";

mzml::RunDescription run_with_sources(std::size_t count, bool later)
{
    mzml::RunDescription run = run_for(count, false);
    for (const std::string& sha1 : {sha1_a, sha1_b}) {
        run.source_files.push_back({"/d/" + sha1.substr(0, 3), later ? "" : sha1, {"MS:1000562", "f"}, {"MS:1000776", "n"}});
    }
    return run;
}

}  // namespace

// SHA-1s learnt while the spectra are encoded make the document they would
// make if known at the start, also when spectra fill the buffers set aside
// meanwhile (the source waits until 16 spectra, 5 MB of text, have been added).
TEST(SourceSha1s, LearntLaterMakeTheSameDocument)
{
    std::vector<SpectrumRecord> spectra;
    for (std::uint32_t scan = 1; scan <= 40; ++scan) {
        spectra.push_back(mzml_documents::random_spectrum(scan, scan, 20'000));
    }
    MemorySink known;
    {
        auto writer = mzml::Writer::begin(known, run_with_sources(spectra.size(), false));
        ASSERT_TRUE(writer.has_value());
        for (const SpectrumRecord& s : spectra) {
            ASSERT_TRUE(writer->add(s).has_value());
        }
        ASSERT_TRUE(writer->finish().has_value());
    }
    ASSERT_NE(known.text.find(sha1_b), std::string::npos);
    for (const std::size_t threads : {1U, 3U}) {
        std::promise<void> added;
        std::shared_future<void> released = added.get_future().share();
        // Should the buffers set aside ever be too few, add() would wait on the source for good:
        // the source gives up waiting instead, so that the test fails rather than hangs.
        std::atomic<bool> timed_out = false;
        mzml::RunDescription run = run_with_sources(spectra.size(), true);
        run.source_sha1s = [released, &timed_out]() -> std::expected<std::vector<std::string>, int> {
            if (released.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
                timed_out = true;
            }
            return std::vector<std::string>{sha1_a, sha1_b};
        };
        MemorySink later;
        auto writer = mzml::Writer::begin(later, std::move(run), threads);
        ASSERT_TRUE(writer.has_value());
        for (std::size_t i = 0; i < spectra.size(); ++i) {
            ASSERT_TRUE(writer->add(spectra[i]).has_value());
            if (i == 15) {
                EXPECT_EQ(later.calls, 0) << "written before the header was whole";
                added.set_value();
            }
        }
        ASSERT_TRUE(writer->finish().has_value());
        EXPECT_FALSE(timed_out) << threads << " threads: add() waited on the source";
        EXPECT_TRUE(later.text == known.text) << threads << " threads";
    }
}

// What counts is where the digits stand: a header longer than the first
// buffer does not make begin() wait for the source.
TEST(SourceSha1s, LongHeaderWithTheDigitsInTheFirstBufferWaitsNot)
{
    const auto run_of = [](bool later) {
        mzml::RunDescription run = run_with_sources(1, later);
        run.software_version.assign(std::size_t{600} << 10, 'v');
        return run;
    };
    const SpectrumRecord s = spectrum(1, 1, {1, 2}, {3, 4});
    MemorySink known;
    {
        auto writer = mzml::Writer::begin(known, run_of(false));
        ASSERT_TRUE(writer.has_value());
        ASSERT_TRUE(writer->add(s).has_value());
        ASSERT_TRUE(writer->finish().has_value());
    }
    std::promise<void> begun;
    std::shared_future<void> released = begun.get_future().share();
    std::atomic<bool> timed_out = false;
    mzml::RunDescription run = run_of(true);
    run.source_sha1s = [released, &timed_out]() -> std::expected<std::vector<std::string>, int> {
        if (released.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            timed_out = true;
        }
        return std::vector<std::string>{sha1_a, sha1_b};
    };
    MemorySink later;
    auto writer = mzml::Writer::begin(later, std::move(run));
    begun.set_value();
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->add(s).has_value());
    ASSERT_TRUE(writer->finish().has_value());
    EXPECT_FALSE(timed_out) << "begin() waited on the source";
    EXPECT_TRUE(later.text == known.text);
}

// A source that fails, or gives what is no SHA-1, fails the writer before anything is written.
TEST(SourceSha1s, FailureOrWrongDigitsFailTheWriter)
{
    using Result = std::expected<std::vector<std::string>, int>;
    struct Case {
        Result given;
        int error;
    };
    const Case cases[] = {
        {std::unexpected(EIO), EIO},
        {std::vector<std::string>{sha1_a}, EINVAL},
        {std::vector<std::string>{sha1_a, std::string(40, 'A')}, EINVAL},
        {std::vector<std::string>{sha1_a, sha1_b + "0"}, EINVAL},
    };
    for (const Case& c : cases) {
        mzml::RunDescription run = run_with_sources(1, true);
        run.source_sha1s = [given = c.given] { return given; };
        MemorySink sink;
        auto writer = mzml::Writer::begin(sink, std::move(run));
        ASSERT_TRUE(writer.has_value());
        ASSERT_TRUE(writer->add(spectrum(1, 1, {1, 2}, {3, 4})).has_value());
        EXPECT_EQ(writer->finish().error(), c.error);
        EXPECT_EQ(sink.calls, 0);
    }
}
