#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "file_sha1.hpp"
#include "sha1.hpp"

namespace {

std::string glib_sha1(std::string_view bytes)
{
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA1, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string text(hex);
    g_free(hex);
    return text;
}

std::string random_text(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string text(n, '\0');
    for (char& c : text) {
        c = static_cast<char>(rng());
    }
    return text;
}

// Every length around the padding boundaries, fed whole and in uneven pieces.
TEST(Sha1, MatchesGlibOverLengthsAndSplits)
{
    for (std::size_t n = 0; n <= 300; ++n) {
        const std::string text = random_text(n, static_cast<std::uint32_t>(n));
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{63}, std::size_t{64}, std::size_t{65}, n + 1}) {
            tarvok::Sha1 sha1;
            for (std::size_t at = 0; at < n; at += piece) {
                sha1.update(std::span(text.data() + at, std::min(piece, n - at)));
            }
            ASSERT_EQ(sha1.hex_digest(), glib_sha1(text)) << n << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha1, MatchesGlibOnMegabytesInRandomPieces)
{
    const std::string text = random_text(5'000'003, 5);
    std::mt19937 rng(9);
    tarvok::Sha1 sha1;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t piece = std::min<std::size_t>(rng() % 300'000, text.size() - at);
        sha1.update(std::span(text.data() + at, piece));
        at += piece;
    }
    EXPECT_EQ(sha1.hex_digest(), glib_sha1(text));
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        gchar* dir = g_dir_make_tmp("mzml-test-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        g_free(dir);
    }
    void TearDown() override
    {
        for (const std::string& f : files_) {
            ::unlink(f.c_str());
        }
        ::rmdir(dir_.c_str());
    }
    std::string file(const std::string& name, const std::string& content)
    {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(g_file_set_contents(path.c_str(), content.data(), static_cast<gssize>(content.size()), nullptr));
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::vector<std::string> files_;
};

using FileSha1 = TempDir;

TEST_F(FileSha1, HashesTheWholeFile)
{
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 20, (std::size_t{3} << 20) + 17}) {
        const std::string content = random_text(n, static_cast<std::uint32_t>(n));
        const auto digest = tarvok::file_sha1(file(std::to_string(n) + ".bin", content));
        ASSERT_TRUE(digest.has_value()) << n;
        EXPECT_EQ(*digest, glib_sha1(content)) << n;
    }
}

TEST_F(FileSha1, ReportsWhyItCannotRead)
{
    for (const auto& [path, error] : {std::pair{dir_ + "/missing", ENOENT}, std::pair{dir_, EISDIR}}) {
        const auto digest = tarvok::file_sha1(path);
        ASSERT_FALSE(digest.has_value()) << path;
        EXPECT_EQ(digest.error(), error) << path;
    }
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    files_.push_back(fifo);
    const auto from_fifo = tarvok::file_sha1(fifo);
    ASSERT_FALSE(from_fifo.has_value()) << "a FIFO is no file to hash";
    EXPECT_EQ(from_fifo.error(), EINVAL);
    const auto from_device = tarvok::file_sha1("/dev/zero");
    ASSERT_FALSE(from_device.has_value());
    EXPECT_EQ(from_device.error(), EINVAL);
    if (::geteuid() != 0) {
        const std::string locked = file("locked", "x");
        ::chmod(locked.c_str(), 0);
        EXPECT_EQ(tarvok::file_sha1(locked).error(), EACCES);
    }
}

}  // namespace
