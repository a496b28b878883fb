// Containers made by the sample writer, then damaged in one place each.
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "asan_build.hpp"
#include "cfb_image.hpp"
#if HOSTILE_UNDER_ASAN
#include <sanitizer/lsan_interface.h>
#endif
#include "child_process.hpp"
#include "hostile_sample.hpp"

namespace {

using hostile::CfbImage;
using Patch = std::function<void(CfbImage&)>;

// Below the mini stream cutoff of 4096 bytes the index stream lives in the
// mini stream; above it, in the container's own sectors.
enum class IndexPlace { mini_stream, sectors };

std::vector<sample_writer::IndexEntry> index_entries(IndexPlace place)
{
    const std::uint32_t count = place == IndexPlace::mini_stream ? 3 : 80;
    std::vector<sample_writer::IndexEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        entries.push_back(fixtures::entry(i % 2 == 0 ? 0 : 64, static_cast<float>(i)));
    }
    return entries;
}

std::uint32_t idx_start(const CfbImage& image)
{
    return image.u32(image.entry("Idx").offset + CfbImage::entry_start_sector_at);
}

std::uint32_t root_start(const CfbImage& image)
{
    return image.u32(image.entry("Root Entry").offset + CfbImage::entry_start_sector_at);
}

void link(CfbImage& image, std::uint32_t sector, std::uint32_t next)
{
    image.put_u32(image.fat_entry_offset(sector), next);
}

// Damage is an I/O error; only where the library works around it without
// touching the index stream is the index read intact.
enum class Outcome { io_error, intact };

// The reasons the reader gives itself; the library's own wording is its own.
constexpr const char* chain_damaged = "the stream's data cannot be read: its sector chain is damaged or the file is short";
constexpr const char* idx_entry_damaged =
    "the container's directory is damaged: no element 'Idx' in storage 'SampleSubtree/Sample1'";

struct DamageCase {
    const char* name;
    IndexPlace place;
    Patch patch;
    Outcome outcome = Outcome::io_error;
    // The reason behind "I/O error: ", where the reader words it.
    const char* reason = nullptr;
    // The container library itself leaks on this damage (about 138 bytes of
    // directory entries per open); the leak checker is told to look away.
    bool library_leaks = false;
};

void PrintTo(const DamageCase& c, std::ostream* out)
{
    *out << c.name;
}

const DamageCase damage_cases[] = {
    {"cut_to_the_header", IndexPlace::sectors, [](CfbImage& c) { c.truncate(512); }},
    {"cut_inside_the_fat", IndexPlace::sectors,
     [](CfbImage& c) { c.truncate(c.sector_offset(c.u32(CfbImage::header_difat_at)) + 100); }},
    {"cut_inside_the_directory", IndexPlace::sectors,
     [](CfbImage& c) { c.truncate(c.entry("Root Entry").offset + 64); }},
    {"cut_inside_the_stream", IndexPlace::sectors,
     [](CfbImage& c) { c.truncate(c.sector_offset(c.chain(idx_start(c)).at(4)) + 10); }},
    {"cut_inside_the_mini_stream", IndexPlace::mini_stream,
     [](CfbImage& c) { c.truncate(c.sector_offset(root_start(c)) + 10); }},

    {"stream_chain_loops_back", IndexPlace::sectors,
     [](CfbImage& c) {
         const auto chain = c.chain(idx_start(c));
         link(c, chain.at(3), chain.at(1));
     },
     Outcome::io_error, chain_damaged},
    {"stream_chain_loops_on_itself", IndexPlace::sectors, [](CfbImage& c) { link(c, idx_start(c), idx_start(c)); },
     Outcome::io_error, chain_damaged},
    // The directory's first sector holds every entry the index needs.
    {"directory_chain_loops", IndexPlace::sectors,
     [](CfbImage& c) {
         const std::uint32_t first = c.u32(CfbImage::first_directory_sector_at);
         link(c, first, first);
     },
     Outcome::intact},
    {"mini_stream_chain_loops", IndexPlace::mini_stream, [](CfbImage& c) { link(c, root_start(c), root_start(c)); },
     Outcome::io_error, chain_damaged},
    {"mini_fat_chain_loops", IndexPlace::mini_stream,
     [](CfbImage& c) {
         const std::size_t mini_fat = c.sector_offset(c.u32(CfbImage::first_mini_fat_sector_at));
         c.put_u32(mini_fat + 4 * idx_start(c), idx_start(c));
     },
     Outcome::io_error, chain_damaged},
    // Idx is its own left sibling: the loop is cut and Idx itself stays.
    {"directory_tree_loops_through_a_sibling", IndexPlace::sectors,
     [](CfbImage& c) {
         const CfbImage::Entry idx = c.entry("Idx");
         c.put_u32(idx.offset + CfbImage::entry_left_at, idx.id);
     },
     Outcome::intact},
    {"root_sibling_is_its_child", IndexPlace::sectors,
     [](CfbImage& c) {
         c.put_u32(c.entry("Root Entry").offset + CfbImage::entry_left_at, c.entry("SampleSubtree").id);
     },
     Outcome::io_error, "the container's directory is damaged: no element 'SampleSubtree' in the root storage", true},
    {"directory_tree_loops_through_a_child", IndexPlace::sectors,
     [](CfbImage& c) {
         c.put_u32(c.entry("Sample1").offset + CfbImage::entry_child_at, c.entry("SampleSubtree").id);
     },
     Outcome::io_error, idx_entry_damaged},

    {"stream_size_4_gib", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); }, Outcome::io_error,
     idx_entry_damaged},
    // A version 3 reader takes the low 32 bits, 0, and the chain goes on.
    {"stream_size_2_to_63", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, std::uint64_t{1} << 63U); },
     Outcome::io_error, chain_damaged},
    {"stream_size_one_sector_past_its_chain", IndexPlace::sectors,
     [](CfbImage& c) {
         const std::size_t at = c.entry("Idx").offset + CfbImage::entry_size_at;
         c.put_u32(at, c.u32(at) + 512);
     },
     Outcome::io_error, chain_damaged},
    {"mini_stream_entry_size_4_gib", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); }, Outcome::io_error,
     idx_entry_damaged},
    // Only the mini sectors the index uses are read, and they are there.
    {"mini_stream_size_4_gib", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u64(c.entry("Root Entry").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); },
     Outcome::intact},

    {"sector_shift_12_in_version_3", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 12); },
     Outcome::io_error, "invalid compound file header: version 3 with 4096-byte sectors (512-byte expected)"},
    {"sector_shift_7", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 7); },
     Outcome::io_error, "invalid compound file header: version 3 with 128-byte sectors (512-byte expected)"},
    {"sector_shift_0", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 0); },
     Outcome::io_error, "invalid compound file header: version 3 with 1-byte sectors (512-byte expected)"},
    {"sector_shift_31", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 31); },
     Outcome::io_error, "invalid compound file header: version 3 with 2147483648-byte sectors (512-byte expected)"},
    {"sector_shift_65535", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 0xFFFF); },
     Outcome::io_error, "invalid compound file header: version 3 with sector shift 65535 (512-byte expected)"},
    {"version_4_with_512_byte_sectors", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u16(CfbImage::major_version_at, 4); }, Outcome::io_error,
     "invalid compound file header: version 4 with 512-byte sectors (4096-byte expected)"},
    {"major_version_5", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::major_version_at, 5); },
     Outcome::io_error, "invalid compound file header: major version 5 (3 or 4 expected)"},
    {"major_version_2", IndexPlace::mini_stream, [](CfbImage& c) { c.put_u16(CfbImage::major_version_at, 2); },
     Outcome::io_error, "invalid compound file header: major version 2 (3 or 4 expected)"},
    {"byte_order_mark_feff", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::byte_order_at, 0xFEFF); },
     Outcome::io_error, "invalid compound file header: byte-order mark FEFF (FFFE expected)"},
    {"mini_sector_shift_0", IndexPlace::mini_stream, [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 0); },
     Outcome::io_error, "invalid compound file header: mini sector shift 0 (6 expected)"},
    {"mini_sector_shift_12", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 12); }, Outcome::io_error,
     "invalid compound file header: mini sector shift 12 (6 expected)"},
    {"mini_sector_shift_31", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 31); }, Outcome::io_error,
     "invalid compound file header: mini sector shift 31 (6 expected)"},
    {"reserved_header_bytes_set", IndexPlace::mini_stream, [](CfbImage& c) { c.put_u16(CfbImage::reserved_at + 4, 1); },
     Outcome::io_error, "invalid compound file header: reserved bytes are not zero"},
    {"directory_sector_count_in_version_3", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::directory_sector_count_at, 1); }, Outcome::io_error,
     "invalid compound file header: version 3 with a directory sector count (0 expected)"},
    {"mini_stream_cutoff_512", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u32(CfbImage::mini_stream_cutoff_at, 512); }, Outcome::io_error,
     "invalid compound file header: mini stream cutoff 512 (4096 expected)"},

    {"fat_sector_count_4_billion", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::fat_sector_count_at, 0xFFFFFFFFU); }},
    {"fat_sector_beyond_the_file", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::header_difat_at, 1000000); }},
    {"directory_beyond_the_file", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::first_directory_sector_at, 1000000); }},
    {"mini_fat_sector_count_4_billion", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u32(CfbImage::mini_fat_sector_count_at, 0xFFFFFFFFU); }},
};

// Empty when the open ends as the case expects; otherwise what it did.
std::string expect_outcome(const DamageCase& expected, const std::string& wiff,
                           const std::vector<sample_writer::IndexEntry>& written)
{
    const auto reader = tarvok::Reader::open(wiff);
    if (!reader) {
        const std::string text = reader.error().display();
        if (expected.outcome == Outcome::intact || !reader.error().is_io()) {
            return "failed with '" + text + "'";
        }
        if (expected.reason != nullptr && text != std::string("I/O error: ") + expected.reason) {
            return "other reason: '" + text + "'";
        }
        return hostile::expect_displayable(reader.error());
    }
    const bool intact = std::equal(
        reader->records.begin(), reader->records.end(), written.begin(), written.end(),
        [](const tarvok::raw::IdxRecord& got, const sample_writer::IndexEntry& want) {
            return got.block_offset == want.block_offset && got.retention_time_min == want.retention_time_min;
        });
    if (expected.outcome == Outcome::io_error) {
        return "opened, with " + std::to_string(reader->records.size()) + " records" + (intact ? " (intact)" : "");
    }
    return intact ? std::string() : "opened, with " + std::to_string(reader->records.size()) + " other records";
}

// The sample, damaged as the case says, under a name of its own in `dir`.
std::string write_damaged(const fixtures::TempDir& dir, const DamageCase& damage)
{
    const std::string made = dir / "made.wiff";
    fixtures::write_sample(made, index_entries(damage.place), hostile::two_blocks());
    CfbImage image(hostile::read_bytes(made));
    damage.patch(image);
    const std::string wiff = dir / (std::string(damage.name) + ".wiff");
    fixtures::write_file(wiff, image.bytes());
    fixtures::write_file(wiff + ".scan", hostile::two_blocks());
    return wiff;
}

class DamagedContainer : public testing::TestWithParam<DamageCase> {
protected:
    fixtures::TempDir dir;
};

TEST_P(DamagedContainer, EndsAsExpectedWithoutCrashHangOrOutput)
{
    const std::vector<sample_writer::IndexEntry> written = index_entries(GetParam().place);
    const std::string wiff = write_damaged(dir, GetParam());

    const hostile::ChildReport report = hostile::run_in_child(
        [&] {
#if HOSTILE_UNDER_ASAN
            std::optional<__lsan::ScopedDisabler> library_leak;
            if (GetParam().library_leaks) {
                library_leak.emplace();
            }
#endif
            return expect_outcome(GetParam(), wiff, written);
        },
        {.time = std::chrono::seconds(30)});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

INSTANTIATE_TEST_SUITE_P(Patched, DamagedContainer, testing::ValuesIn(damage_cases),
                         [](const testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

void collect_message(const gchar*, GLogLevelFlags, const gchar* message, gpointer heard)
{
    static_cast<std::vector<std::string>*>(heard)->emplace_back(message);
}

// The library's messages are dropped, the host program's are not: after
// every open the host's own handler for messages without a domain is back
// and has heard nothing of the library's, and without one GLib prints them.
TEST(DamagedContainer, HostProgramsGlibMessagesStillArrive)
{
    fixtures::TempDir dir;
    std::vector<std::string> samples;
    for (const DamageCase& damage : damage_cases) {
        if (!damage.library_leaks) {
            samples.push_back(write_damaged(dir, damage));
        }
    }
    const hostile::ChildReport report = hostile::run_in_child([&] {
        std::vector<std::string> heard;
        std::vector<std::string> said;
        const guint handler = g_log_set_handler(nullptr, G_LOG_LEVEL_MASK, collect_message, &heard);
        for (const std::string& wiff : samples) {
            (void)tarvok::Reader::open(wiff);
            said.push_back("after " + wiff);
            g_warning("%s", said.back().c_str());
        }
        g_log_remove_handler(nullptr, handler);
        (void)tarvok::Reader::open(samples.front());
        g_warning("printed by GLib");
        return heard == said ? std::string() : "the host's handler heard " + std::to_string(heard.size()) + " messages";
    });
    EXPECT_TRUE(report.failure.empty()) << hostile::describe(report);
    EXPECT_EQ(report.exit_code, 0) << hostile::describe(report);
    // GLib sets a warning off with an empty line.
    EXPECT_TRUE(report.stderr_text.ends_with("printed by GLib\n")) << report.stderr_text;
    EXPECT_EQ(report.stderr_text.find("WARNING"), report.stderr_text.rfind("WARNING")) << report.stderr_text;
}

// The patches hit what they aim at: the undamaged containers open.
TEST(DamagedContainer, UndamagedOriginalsOpen)
{
    fixtures::TempDir dir;
    for (const IndexPlace place : {IndexPlace::mini_stream, IndexPlace::sectors}) {
        const std::string wiff = dir / "made.wiff";
        fixtures::write_sample(wiff, index_entries(place), hostile::two_blocks());
        const auto reader = tarvok::Reader::open(wiff);
        ASSERT_TRUE(reader.has_value()) << reader.error().display();
        EXPECT_EQ(reader->records.size(), index_entries(place).size());
        const CfbImage image(hostile::read_bytes(wiff));
        const std::size_t stored = image.u32(image.entry("Idx").offset + CfbImage::entry_size_at);
        EXPECT_EQ(stored >= 4096, place == IndexPlace::sectors);
    }
}

}  // namespace
