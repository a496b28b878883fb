// Writes the seed corpora of the fuzz targets, one directory per target,
// from samples made by the sample writer:
//   tarvok-fuzz-seeds OUT_DIR
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sample_writer/sample_writer.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes block(const Bytes& payload, std::uint8_t header_fill = 0)
{
    return concat({Bytes(56, header_fill), payload});
}

Bytes le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8U),
            static_cast<std::uint8_t>(value >> 16U), static_cast<std::uint8_t>(value >> 24U)};
}

Bytes le16(std::size_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8U)};
}

sample_writer::IndexEntry entry(std::uint32_t offset, std::uint32_t size, float minutes, std::uint8_t ms_code)
{
    sample_writer::IndexEntry e;
    e.block_offset = offset;
    e.block_size = size;
    e.retention_time_min = minutes;
    e.ms_level_code = ms_code;
    for (std::size_t i = 0; i < e.opaque.size(); ++i) {
        e.opaque[i] = static_cast<std::uint8_t>(offset + i);
    }
    return e;
}

// Two blocks, A at 0 (payload 05 83 02 84) and B at 64 (payload 0A FC C8),
// each ended by FF FF FF FF: 127 bytes.
const Bytes two_blocks = concat({block({0x05, 0x83, 0x02, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}),
                                 block({0x0A, 0xFC, 0xC8, 0xFF, 0xFF, 0xFF, 0xFF})});

// Points whose intensities take every operand width.
Bytes varied_payload()
{
    std::vector<sample_writer::Point> points;
    std::uint32_t position = 100;
    for (std::uint32_t i = 0; i < 40; ++i) {
        position += (i % 7 == 0) ? 300 : 1 + i % 5;
        const std::uint32_t intensity = i * i * i * i * 977U % 0x0FFFFFFFU >> (i % 4 * 7);
        points.push_back({position, intensity});
    }
    return sample_writer::encode_payload(points);
}

class SeedWriter {
public:
    explicit SeedWriter(fs::path root) : root_(std::move(root)) {}

    bool put(const std::string& target, const std::string& name, const Bytes& bytes)
    {
        fs::create_directories(root_ / target);
        const auto written = sample_writer::write_file((root_ / target / name).string(), bytes);
        if (!written) {
            std::fprintf(stderr, "tarvok-fuzz-seeds: %s\n", written.error().c_str());
        }
        return written.has_value();
    }

    // The container the writer makes for these streams, as bytes.
    Bytes container(const std::vector<sample_writer::Stream>& streams) const
    {
        const fs::path scratch = root_ / ("container-" + std::to_string(::getpid()) + ".tmp");
        const auto written = sample_writer::write_container(scratch.string(), streams);
        if (!written) {
            std::fprintf(stderr, "tarvok-fuzz-seeds: %s\n", written.error().c_str());
            return {};
        }
        std::ifstream in(scratch, std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fs::remove(scratch);
        return bytes;
    }

    bool put_sample(const std::string& name, const std::vector<sample_writer::Stream>& streams, const Bytes& scan)
    {
        const Bytes wiff = container(streams);
        return !wiff.empty() && put("open_sample", name, concat({le16(scan.size()), scan, wiff}));
    }

private:
    fs::path root_;
};

bool decode_payload_seeds(SeedWriter& out)
{
    return out.put("decode_payload", "every-opcode",
                   {0x05, 0x83, 0x84, 0x02, 0xFC, 0xC8, 0x0A, 0x0A, 0x84, 0x7F, 0x7F, 0x80, 0x00, 0xFB, 0xFC, 0x7C,
                    0xFD, 0x34, 0x12, 0xFE, 0x56, 0x34, 0x12, 0xFF, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x00,
                    0x00}) &&
           out.put("decode_payload", "end-marker", {0x05, 0x83, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0x84}) &&
           out.put("decode_payload", "short-operands",
                   {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x83, 0xFF, 0x01, 0x02, 0x03}) &&
           out.put("decode_payload", "written-points", varied_payload());
}

bool parse_stream_seeds(SeedWriter& out)
{
    const std::vector<sample_writer::IndexEntry> mixed = {
        entry(0, 100, 0.5F, 1), entry(64, 20, 1.0F, 1), entry(200, 57, std::nanf(""), 255),
        entry(300, 0xFFFFFFFFU, 1.5F, 0)};
    return out.put("parse_stream", "mixed-records", sample_writer::encode_index(mixed, 10)) &&
           out.put("parse_stream", "header-only", sample_writer::encode_index({})) &&
           out.put("parse_stream", "none-retained",
                   sample_writer::encode_index(std::vector{entry(0, 56, 0.0F, 1), entry(9, 0, 0.0F, 2)}));
}

bool scan_block_seeds(SeedWriter& out)
{
    const Bytes no_terminator = concat({block({0x05, 0x83}), Bytes{0x81}, Bytes(55, 0)});
    return out.put("scan_block", "first-block", concat({le32(0), le32(64), two_blocks})) &&
           out.put("scan_block", "last-block", concat({le32(64), le32(127), two_blocks})) &&
           out.put("scan_block", "into-next-header", concat({le32(0), le32(58), no_terminator})) &&
           out.put("scan_block", "gigabyte-window", concat({le32(0), le32(0xFFFFFFFFU), two_blocks})) &&
           out.put("scan_block", "written-points", concat({le32(0), le32(4096), block(varied_payload())}));
}

bool open_sample_seeds(SeedWriter& out)
{
    const std::string idx_path = "SampleSubtree/Sample1/Idx";
    const Bytes two_scans = sample_writer::encode_index(std::vector{entry(0, 64, 0.5F, 1), entry(64, 63, 1.25F, 2)});

    // More than 4096 bytes: the stream leaves the mini stream for the
    // container's own sectors.
    std::vector<sample_writer::IndexEntry> many;
    for (std::uint32_t i = 0; i < 80; ++i) {
        many.push_back(entry(i * 3 % 100, 57 + i, static_cast<float>(i) / 10.0F, static_cast<std::uint8_t>(i % 3)));
    }
    const Bytes written_scan = concat({block(varied_payload()), Bytes{0xFF, 0xFF, 0xFF, 0xFF}});

    return out.put_sample("two-scans", {{idx_path, two_scans}}, two_blocks) &&
           out.put_sample("large-index", {{idx_path, sample_writer::encode_index(many)}}, two_blocks) &&
           out.put_sample("beside-other-streams",
                          {{"SampleSubtree/Sample1/Other", Bytes(300, 7)},
                           {idx_path, sample_writer::encode_index(std::vector{entry(0, 99, 2.0F, 1)})},
                           {"Info", Bytes(20, 1)}},
                          written_scan) &&
           out.put_sample("no-index-stream", {{"SampleSubtree/Sample2/Idx", two_scans}}, two_blocks);
}

// The mzML writer's input, as its target reads it: a flags byte (zlib, the
// number of source files, SHA-1s), texts as a length byte and the bytes, then
// per spectrum a scan step, a level, a time, the peaks and its user params.
class WriterInput {
public:
    WriterInput& byte(std::uint8_t b)
    {
        bytes_.push_back(b);
        return *this;
    }
    WriterInput& text(std::string_view t)
    {
        byte(static_cast<std::uint8_t>(t.size()));
        bytes_.insert(bytes_.end(), t.begin(), t.end());
        return *this;
    }
    template <typename T>
    WriterInput& raw(T value)
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
        bytes_.insert(bytes_.end(), p, p + sizeof value);
        return *this;
    }
    WriterInput& spectrum(std::uint16_t step, std::uint8_t level, double time,
                          std::vector<std::pair<double, float>> peaks,
                          std::vector<std::pair<std::string_view, std::string_view>> user_params = {})
    {
        raw(step).byte(level).raw(time).byte(static_cast<std::uint8_t>(peaks.size()));
        for (const auto& [mz, intensity] : peaks) {
            raw(mz).raw(intensity);
        }
        byte(static_cast<std::uint8_t>(user_params.size()));
        for (const auto& [name, value] : user_params) {
            text(name).text(value);
        }
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

bool mzml_writer_seeds(SeedWriter& out)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    const Bytes reserved = WriterInput()
                               .byte(2 << 1 | 8)
                               .text("SF1")
                               .text("/data/SF1.wiff")
                               .text("/data/SF1.wiff.scan")
                               .text("0.1.0")
                               .byte(2)
                               .spectrum(0, 0, 12.5, {{100.25, 5.0F}, {101.5, 7.0F}})
                               .spectrum(3, 1, 13.0, {{200.0, 1.0F}})
                               .bytes();
    const Bytes hostile = WriterInput()
                              .byte(1 | 1 << 1)
                              .text("1 a&b <c> \"q\" \xFF\xFE\xC2\x9B\x1B]\x7F")
                              .text("rel/\xE2\x82<&>.wiff")
                              .text("\x01\x02")
                              .byte(3)
                              .spectrum(1, 0, nan, {{nan, -0.0F}, {inf, std::numeric_limits<float>::infinity()}})
                              .spectrum(65535, 2, -inf, {}, {{"damaged scan block", "a <b> & \"c\"\xFF"}})
                              .spectrum(9, 1, 5e-324, {{-1e308, std::numeric_limits<float>::denorm_min()}})
                              .bytes();
    const Bytes nothing = WriterInput().byte(0).text("").text("").byte(0).bytes();
    return out.put("mzml_writer", "reserved-name", reserved) && out.put("mzml_writer", "hostile-name", hostile) &&
           out.put("mzml_writer", "no-spectra", nothing);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvok-fuzz-seeds OUT_DIR\n");
        return 2;
    }
    SeedWriter out{fs::path(argv[1])};
    const bool all = decode_payload_seeds(out) && parse_stream_seeds(out) && scan_block_seeds(out) &&
                     open_sample_seeds(out) && mzml_writer_seeds(out);
    return all ? 0 : 1;
}
