// Containers made by the sample writer, then damaged in one place each.
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

struct DamageCase {
    const char* name;
    IndexPlace place;
    Patch patch;
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
     }},
    {"stream_chain_loops_on_itself", IndexPlace::sectors, [](CfbImage& c) { link(c, idx_start(c), idx_start(c)); }},
    {"directory_chain_loops", IndexPlace::sectors,
     [](CfbImage& c) {
         const std::uint32_t first = c.u32(CfbImage::first_directory_sector_at);
         link(c, first, first);
     }},
    {"mini_stream_chain_loops", IndexPlace::mini_stream, [](CfbImage& c) { link(c, root_start(c), root_start(c)); }},
    {"mini_fat_chain_loops", IndexPlace::mini_stream,
     [](CfbImage& c) {
         const std::size_t mini_fat = c.sector_offset(c.u32(CfbImage::first_mini_fat_sector_at));
         c.put_u32(mini_fat + 4 * idx_start(c), idx_start(c));
     }},
    {"directory_tree_loops_through_a_sibling", IndexPlace::sectors,
     [](CfbImage& c) {
         const CfbImage::Entry idx = c.entry("Idx");
         c.put_u32(idx.offset + CfbImage::entry_left_at, idx.id);
     }},
    {"root_sibling_is_its_child", IndexPlace::sectors,
     [](CfbImage& c) {
         c.put_u32(c.entry("Root Entry").offset + CfbImage::entry_left_at, c.entry("SampleSubtree").id);
     },
     true},
    {"directory_tree_loops_through_a_child", IndexPlace::sectors,
     [](CfbImage& c) {
         c.put_u32(c.entry("Sample1").offset + CfbImage::entry_child_at, c.entry("SampleSubtree").id);
     }},

    {"stream_size_4_gib", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); }},
    {"stream_size_2_to_63", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, std::uint64_t{1} << 63U); }},
    {"stream_size_one_sector_past_its_chain", IndexPlace::sectors,
     [](CfbImage& c) {
         const std::size_t at = c.entry("Idx").offset + CfbImage::entry_size_at;
         c.put_u32(at, c.u32(at) + 512);
     }},
    {"mini_stream_entry_size_4_gib", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u64(c.entry("Idx").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); }},
    {"mini_stream_size_4_gib", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u64(c.entry("Root Entry").offset + CfbImage::entry_size_at, 0xFFFFFFFFU); }},

    {"sector_shift_12_in_version_3", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 12); }},
    {"sector_shift_7", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 7); }},
    {"sector_shift_0", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 0); }},
    {"sector_shift_31", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 31); }},
    {"sector_shift_65535", IndexPlace::sectors, [](CfbImage& c) { c.put_u16(CfbImage::sector_shift_at, 0xFFFF); }},
    {"mini_sector_shift_0", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 0); }},
    {"mini_sector_shift_12", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 12); }},
    {"mini_sector_shift_31", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u16(CfbImage::mini_sector_shift_at, 31); }},

    {"fat_sector_count_4_billion", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::fat_sector_count_at, 0xFFFFFFFFU); }},
    {"fat_sector_beyond_the_file", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::header_difat_at, 1000000); }},
    {"directory_beyond_the_file", IndexPlace::sectors,
     [](CfbImage& c) { c.put_u32(CfbImage::first_directory_sector_at, 1000000); }},
    {"mini_fat_sector_count_4_billion", IndexPlace::mini_stream,
     [](CfbImage& c) { c.put_u32(CfbImage::mini_fat_sector_count_at, 0xFFFFFFFFU); }},
};

// Empty when the damage is reported as a displayable error, or when the
// reader recovered exactly the index that was written; otherwise what it did.
std::string expect_error_or_intact(const std::string& wiff, const std::vector<sample_writer::IndexEntry>& written)
{
    const auto reader = tarvok::Reader::open(wiff);
    if (!reader) {
        return hostile::expect_displayable(reader.error());
    }
    const bool intact = std::equal(
        reader->records.begin(), reader->records.end(), written.begin(), written.end(),
        [](const tarvok::raw::IdxRecord& got, const sample_writer::IndexEntry& want) {
            return got.block_offset == want.block_offset && got.retention_time_min == want.retention_time_min;
        });
    return intact ? std::string() : "opened, with " + std::to_string(reader->records.size()) + " other records";
}

class DamagedContainer : public testing::TestWithParam<DamageCase> {
protected:
    fixtures::TempDir dir;
};

TEST_P(DamagedContainer, IsAnErrorOrRecoveredWithoutCrashHangOrOutput)
{
    const std::vector<sample_writer::IndexEntry> written = index_entries(GetParam().place);
    const std::string made = dir / "made.wiff";
    fixtures::write_sample(made, written, hostile::two_blocks());
    CfbImage image(hostile::read_bytes(made));
    GetParam().patch(image);
    const std::string wiff = dir / "damaged.wiff";
    fixtures::write_file(wiff, image.bytes());
    fixtures::write_file(wiff + ".scan", hostile::two_blocks());

    const hostile::ChildReport report = hostile::run_in_child(
        [&] {
#if HOSTILE_UNDER_ASAN
            std::optional<__lsan::ScopedDisabler> library_leak;
            if (GetParam().library_leaks) {
                library_leak.emplace();
            }
#endif
            return expect_error_or_intact(wiff, written);
        },
        {.time = std::chrono::seconds(30)});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

INSTANTIATE_TEST_SUITE_P(Patched, DamagedContainer, testing::ValuesIn(damage_cases),
                         [](const testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

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
