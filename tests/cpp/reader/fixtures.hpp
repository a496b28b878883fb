#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/scan.hpp"

namespace tarvok::raw {
inline void PrintTo(const ScanPoint& point, std::ostream* out)
{
    *out << '(' << point.position << ", " << point.intensity << ')';
}
}  // namespace tarvok::raw

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvok-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string operator/(std::string_view name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A block as stored: a 56-byte header of `header_fill`, then the payload.
inline Bytes block(const Bytes& payload, std::uint8_t header_fill = 0)
{
    Bytes bytes(56 + payload.size(), header_fill);
    std::copy(payload.begin(), payload.end(), bytes.begin() + 56);
    return bytes;
}

inline sample_writer::IndexEntry entry(std::uint32_t offset, float rt_min = 0.0F, std::uint8_t ms_code = 1,
                                       std::uint32_t size = 100)
{
    sample_writer::IndexEntry e;
    e.block_offset = offset;
    e.block_size = size;
    e.retention_time_min = rt_min;
    e.ms_level_code = ms_code;
    return e;
}

inline void write_sample(const std::string& wiff, const std::vector<sample_writer::IndexEntry>& entries,
                         const Bytes& scan)
{
    const Bytes idx = sample_writer::encode_index(entries);
    const auto written = sample_writer::write_sample(wiff, idx, scan);
    ASSERT_TRUE(written.has_value()) << written.error();
}

inline void write_file(const std::string& path, const Bytes& bytes)
{
    const auto written = sample_writer::write_file(path, bytes);
    ASSERT_TRUE(written.has_value()) << written.error();
}

inline std::size_t open_descriptors()
{
    std::size_t count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (const dirent* e = ::readdir(dir)) {
        count += e->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count;
}

}  // namespace fixtures
