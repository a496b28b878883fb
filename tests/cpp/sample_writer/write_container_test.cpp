#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "sample_writer/sample_writer.hpp"

namespace sample_writer {
namespace {

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("sample_writer_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

struct RefusedLayout {
    const char* name;
    std::vector<std::string> paths;
    const char* reason;  // a fragment of the error text
};

class WriteContainerRefuses : public ScratchDir, public ::testing::WithParamInterface<RefusedLayout> {};

TEST_P(WriteContainerRefuses, LayoutsACompoundFileCannotHold) {
    std::vector<Stream> streams;
    for (const std::string& stream_path : GetParam().paths) {
        streams.push_back({stream_path, {1, 2, 3}});
    }
    const std::string out = path("refused.wiff");
    const auto written = write_container(out, streams);
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().find(GetParam().reason), std::string::npos) << written.error();
    EXPECT_FALSE(std::filesystem::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteContainerRefuses,
    ::testing::Values(
        RefusedLayout{"empty_path", {""}, "empty name"},
        RefusedLayout{"leading_slash", {"/A/Idx"}, "empty name"},
        RefusedLayout{"double_slash", {"A//Idx"}, "empty name"},
        RefusedLayout{"trailing_slash", {"A/"}, "empty name"},
        RefusedLayout{"name_of_32_units", {"A/" + std::string(32, 'x')}, "longer than 31"},
        RefusedLayout{"same_stream_twice", {"A/B/Idx", "A/B/Idx"}, "collides"},
        RefusedLayout{"stream_under_a_stream", {"A/B", "A/B/C"}, "collides"},
        RefusedLayout{"stream_over_a_storage", {"A/B/C", "A/B"}, "collides"},
        RefusedLayout{"siblings_differing_in_case", {"A/Idx", "a/Other"}, "differs only in case"},
        RefusedLayout{"invalid_utf8", {"A/\xC3"}, "UTF-8"}),
    [](const ::testing::TestParamInfo<RefusedLayout>& info) { return std::string(info.param.name); });

TEST_F(ScratchDir, NamesOfThirtyOneUnitsAreAccepted) {
    // Two-byte UTF-8 characters count once, four-byte ones twice.
    const std::vector<Stream> streams{{std::string(31, 'x'), {}},
                                      {"S/" + std::string(29, 'y') + "\xF0\x9F\x98\x80", {7}},
                                      {"S/\xC3\xA9" + std::string(30, 'z'), {8}}};
    EXPECT_TRUE(write_container(path("names.wiff"), streams).has_value());
}

TEST_F(ScratchDir, UnwritableDestinationsReportTheirPath) {
    const std::string missing_dir = path("no/such/dir/x.wiff");
    const std::vector<std::uint8_t> bytes{1};
    const auto container = write_container(missing_dir, {});
    ASSERT_FALSE(container.has_value());
    EXPECT_NE(container.error().find(missing_dir), std::string::npos) << container.error();
    const auto file = write_file(missing_dir, bytes);
    ASSERT_FALSE(file.has_value());
    EXPECT_NE(file.error().find(missing_dir), std::string::npos) << file.error();
}

TEST_F(ScratchDir, WriteSampleWritesBothFiles) {
    const std::vector<std::uint8_t> idx = encode_index({}, 0);
    const std::vector<std::uint8_t> scan{0, 1, 2, 3, 4};
    const std::string out = path("pair.wiff");
    ASSERT_TRUE(write_sample(out, idx, scan).has_value());
    EXPECT_GT(std::filesystem::file_size(out), 512U);
    EXPECT_EQ(std::filesystem::file_size(out + ".scan"), scan.size());
}

}  // namespace
}  // namespace sample_writer
