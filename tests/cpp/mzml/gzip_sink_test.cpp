#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "memory_sink.hpp"
#include "mzml/gzip_sink.hpp"

namespace {

using mzml_tests::MemorySink;

struct Gunzipped {
    std::string text;
    int members = 0;
    bool whole = false;  // every member ended, nothing after the last
};

// zlib, not the library that compressed: member after member, as gzip -d reads them.
Gunzipped gunzip(const std::string& file)
{
    Gunzipped result;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return result;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data()));
    stream.avail_in = static_cast<uInt>(file.size());
    std::vector<char> out(1 << 16);
    while (stream.avail_in > 0) {
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        result.text.append(out.data(), out.size() - stream.avail_out);
        if (status == Z_STREAM_END) {
            ++result.members;
            inflateReset(&stream);
        } else if (status != Z_OK) {
            break;
        }
    }
    result.whole = stream.avail_in == 0 && stream.total_in == 0;
    inflateEnd(&stream);
    return result;
}

std::string text_of(std::size_t n, std::uint32_t seed)
{
    // Compressible like a document: words from a small alphabet.
    std::mt19937 random(seed);
    std::string text(n, ' ');
    for (char& c : text) {
        c = static_cast<char>('a' + random() % 12);
    }
    return text;
}

constexpr std::size_t member_input = std::size_t{256} << 10;

TEST(GzipSink, MembersCutByTheWritesAloneDecompressToTheBytesForAnyThreadCount)
{
    const std::vector<std::vector<std::size_t>> plans = {
        {},
        {0},
        {1},
        {member_input - 1, member_input, member_input + 1},
        {3 * member_input + 5},
        {100, 300'000, 0, 1 << 20},
    };
    for (const auto& plan : plans) {
        std::string expected;
        int members = 0;
        std::string single;
        for (const std::size_t threads : {1U, 3U}) {
            MemorySink sink;
            auto gzip = mzml::GzipSink::over(sink, threads);
            ASSERT_TRUE(gzip.has_value());
            std::uint32_t seed = 0;
            expected.clear();
            members = 0;
            for (const std::size_t size : plan) {
                const std::string text = text_of(size, ++seed);
                ASSERT_TRUE(gzip->write(text).has_value());
                expected += text;
                members += static_cast<int>((size + member_input - 1) / member_input);
            }
            const Gunzipped back = gunzip(sink.text);
            EXPECT_TRUE(back.text == expected) << plan.size() << " writes, " << threads << " threads";
            EXPECT_EQ(back.members, members) << plan.size() << " writes, " << threads << " threads";
            EXPECT_TRUE(back.whole);
            if (threads == 1) {
                single = sink.text;
            } else {
                EXPECT_TRUE(sink.text == single) << plan.size() << " writes";
            }
        }
    }
}

// A failed write is final, with members of the same write still in flight.
TEST(GzipSink, FailedWriteIsFinal)
{
    for (const std::size_t threads : {1U, 4U}) {
        MemorySink sink(1000);
        auto gzip = mzml::GzipSink::over(sink, threads);
        ASSERT_TRUE(gzip.has_value());
        const std::string text = text_of(5 * member_input, 7);
        EXPECT_EQ(gzip->write(text).error(), ENOSPC);
        const int calls = sink.calls;
        EXPECT_EQ(gzip->write(text).error(), ENOSPC);
        EXPECT_EQ(sink.calls, calls) << threads << " threads: written after the failure";
    }
}

}  // namespace
