// A .wiff or .wiff.scan path that names no regular file: nothing may block
// for ever, and the outcome is an error or spectra without peaks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.hpp"
#include "hostile_sample.hpp"

namespace {

enum class Special { fifo_without_writer, fifo_with_idle_writer, directory, dev_null, dev_zero };

// The writing end of a FIFO, held open for the length of a test.
class FifoWriter {
public:
    FifoWriter() = default;
    FifoWriter(const FifoWriter&) = delete;
    FifoWriter& operator=(const FifoWriter&) = delete;
    ~FifoWriter()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // Read-write opens a FIFO without waiting for a partner.
    bool open(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        return fd_ >= 0;
    }

private:
    int fd_ = -1;
};

struct SpecialCase {
    const char* name;
    Special kind;
};

void PrintTo(const SpecialCase& c, std::ostream* out)
{
    *out << c.name;
}

const SpecialCase special_cases[] = {
    {"fifo_without_writer", Special::fifo_without_writer},
    {"fifo_with_idle_writer", Special::fifo_with_idle_writer},
    {"directory", Special::directory},
    {"dev_null", Special::dev_null},
    {"dev_zero", Special::dev_zero},
};

// Makes `path` the special file; an idle writer keeps its end open in `writer`.
void make_special(const std::string& path, Special kind, FifoWriter& writer)
{
    switch (kind) {
    case Special::fifo_without_writer:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        break;
    case Special::fifo_with_idle_writer:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        ASSERT_TRUE(writer.open(path));
        break;
    case Special::directory:
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        break;
    case Special::dev_null:
        ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
        break;
    case Special::dev_zero:
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
        break;
    }
}

class SpecialScanFile : public testing::TestWithParam<SpecialCase> {
protected:
    fixtures::TempDir dir;
};

// A short window, a window of about 4 GiB, and one that starts past the
// recorded length: the device and pipe reads are bounded, not the window.
TEST_P(SpecialScanFile, GivesSpectraWithoutPeaks)
{
    const std::string wiff = dir / "s.wiff";
    fixtures::write_sample(wiff, {fixtures::entry(0), fixtures::entry(100), fixtures::entry(0xFFFFFF00U)},
                           hostile::two_blocks());
    ASSERT_EQ(::unlink((wiff + ".scan").c_str()), 0);
    FifoWriter writer;
    ASSERT_NO_FATAL_FAILURE(make_special(wiff + ".scan", GetParam().kind, writer));

    const hostile::ChildReport report = hostile::run_in_child(
        [&]() -> std::string {
            const hostile::Drained drained = hostile::open_and_drain(wiff);
            if (!drained.failure.empty()) {
                return drained.failure;
            }
            if (drained.spectra != 3 || drained.peaks != 0) {
                return std::to_string(drained.spectra) + " spectra with " + std::to_string(drained.peaks) + " peaks";
            }
            return {};
        },
        {.time = std::chrono::seconds(30)});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialScanFile, testing::ValuesIn(special_cases),
                         [](const testing::TestParamInfo<SpecialCase>& info) { return info.param.name; });

class SpecialWiffFile : public testing::TestWithParam<SpecialCase> {
protected:
    fixtures::TempDir dir;
};

TEST_P(SpecialWiffFile, IsAnIoError)
{
    const std::string wiff = dir / "s.wiff";
    FifoWriter writer;
    ASSERT_NO_FATAL_FAILURE(make_special(wiff, GetParam().kind, writer));
    fixtures::write_file(wiff + ".scan", hostile::two_blocks());

    const hostile::ChildReport report = hostile::run_in_child(
        [&]() -> std::string {
            const auto reader = tarvok::Reader::open(wiff);
            if (reader) {
                return "opened";
            }
            return reader.error().is_io() ? hostile::expect_displayable(reader.error())
                                          : "not an I/O error: " + reader.error().display();
        },
        {.time = std::chrono::seconds(30)});
    EXPECT_TRUE(report.clean()) << hostile::describe(report);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialWiffFile, testing::ValuesIn(special_cases),
                         [](const testing::TestParamInfo<SpecialCase>& info) { return info.param.name; });

}  // namespace
