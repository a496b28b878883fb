#include "cfb_header.hpp"

#include "little_endian.hpp"

#include <algorithm>
#include <array>

namespace tarvok::cfb {
namespace {

constexpr std::array<std::uint8_t, 8> signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr std::size_t major_version_at = 0x1A;
constexpr std::size_t byte_order_at = 0x1C;
constexpr std::size_t sector_shift_at = 0x1E;
constexpr std::size_t mini_sector_shift_at = 0x20;
constexpr std::size_t reserved_at = 0x22;
constexpr std::size_t reserved_size = 6;
constexpr std::size_t directory_sector_count_at = 0x28;
constexpr std::size_t mini_stream_cutoff_at = 0x38;

constexpr std::uint16_t little_endian_mark = 0xFFFE;
constexpr std::uint16_t version_3_sector_shift = 9;
constexpr std::uint16_t version_4_sector_shift = 12;
constexpr std::uint16_t mini_sector_shift = 6;
constexpr std::uint32_t mini_stream_cutoff = 4096;

std::string hex16(std::uint16_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, value = static_cast<std::uint16_t>(value >> 4U)) {
        text[static_cast<std::size_t>(i)] = digits[value & 0xFU];
    }
    return text;
}

std::string invalid(const std::string& what)
{
    return "invalid compound file header: " + what;
}

}  // namespace

std::optional<std::string> header_violation(std::span<const std::uint8_t, header_size> header)
{
    if (!std::equal(signature.begin(), signature.end(), header.begin())) {
        return std::nullopt;
    }
    const std::uint16_t major = load_u16le(header.data() + major_version_at);
    if (major != 3 && major != 4) {
        return invalid("major version " + std::to_string(major) + " (3 or 4 expected)");
    }
    const std::uint16_t mark = load_u16le(header.data() + byte_order_at);
    if (mark != little_endian_mark) {
        return invalid("byte-order mark " + hex16(mark) + " (FFFE expected)");
    }
    const std::uint16_t shift = load_u16le(header.data() + sector_shift_at);
    const std::uint16_t wanted_shift = major == 3 ? version_3_sector_shift : version_4_sector_shift;
    if (shift != wanted_shift) {
        const std::string found =
            shift < 32 ? std::to_string(std::uint64_t{1} << shift) + "-byte sectors" : "sector shift " + std::to_string(shift);
        return invalid("version " + std::to_string(major) + " with " + found + " (" +
                       std::to_string(1U << wanted_shift) + "-byte expected)");
    }
    const std::uint16_t mini_shift = load_u16le(header.data() + mini_sector_shift_at);
    if (mini_shift != mini_sector_shift) {
        return invalid("mini sector shift " + std::to_string(mini_shift) + " (6 expected)");
    }
    if (!std::all_of(header.begin() + reserved_at, header.begin() + reserved_at + reserved_size,
                     [](std::uint8_t byte) { return byte == 0; })) {
        return invalid("reserved bytes are not zero");
    }
    if (major == 3 && load_u32le(header.data() + directory_sector_count_at) != 0) {
        return invalid("version 3 with a directory sector count (0 expected)");
    }
    const std::uint32_t cutoff = load_u32le(header.data() + mini_stream_cutoff_at);
    if (cutoff != mini_stream_cutoff) {
        return invalid("mini stream cutoff " + std::to_string(cutoff) + " (4096 expected)");
    }
    return std::nullopt;
}

}  // namespace tarvok::cfb
