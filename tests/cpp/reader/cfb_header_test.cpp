// The header rules refuse only what the container format forbids: the
// damaged headers are in the hostile tests, the lawful ones here.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "cfb_header.hpp"

namespace {

using Header = std::array<std::uint8_t, tarvok::cfb::header_size>;

void put_u16(Header& header, std::size_t at, std::uint16_t value)
{
    header[at] = static_cast<std::uint8_t>(value);
    header[at + 1] = static_cast<std::uint8_t>(value >> 8U);
}

Header lawful_header(std::uint16_t major, std::uint16_t sector_shift)
{
    Header header{};
    const std::array<std::uint8_t, 8> signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(signature.begin(), signature.end(), header.begin());
    put_u16(header, 0x18, 0x003E);
    put_u16(header, 0x1A, major);
    put_u16(header, 0x1C, 0xFFFE);
    put_u16(header, 0x1E, sector_shift);
    put_u16(header, 0x20, 6);
    put_u16(header, 0x39, 0x10);  // mini stream cutoff 4096
    return header;
}

TEST(CfbHeader, LawfulHeadersPass)
{
    EXPECT_EQ(tarvok::cfb::header_violation(lawful_header(3, 9)), std::nullopt);
    Header version_4 = lawful_header(4, 12);
    put_u16(version_4, 0x28, 3);  // version 4 counts its directory sectors
    EXPECT_EQ(tarvok::cfb::header_violation(version_4), std::nullopt);
}

// Without the signature it is not a compound file at all, and the
// container library's message says so.
TEST(CfbHeader, NoSignatureIsLeftToTheLibrary)
{
    Header header = lawful_header(5, 0);
    header[0] = 'x';
    EXPECT_EQ(tarvok::cfb::header_violation(header), std::nullopt);
}

}  // namespace
