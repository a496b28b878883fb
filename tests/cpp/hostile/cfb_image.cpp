#include "cfb_image.hpp"

#include <stdexcept>

namespace hostile {
namespace {

constexpr std::size_t header_size = 512;
constexpr std::size_t entry_size = 128;
constexpr std::size_t name_length_at = 0x40;

}  // namespace

std::uint32_t CfbImage::u32(std::size_t at) const
{
    return static_cast<std::uint32_t>(bytes_.at(at)) | static_cast<std::uint32_t>(bytes_.at(at + 1)) << 8U |
           static_cast<std::uint32_t>(bytes_.at(at + 2)) << 16U | static_cast<std::uint32_t>(bytes_.at(at + 3)) << 24U;
}

void CfbImage::put_u16(std::size_t at, std::uint16_t value)
{
    bytes_.at(at) = static_cast<std::uint8_t>(value);
    bytes_.at(at + 1) = static_cast<std::uint8_t>(value >> 8U);
}

void CfbImage::put_u32(std::size_t at, std::uint32_t value)
{
    put_u16(at, static_cast<std::uint16_t>(value));
    put_u16(at + 2, static_cast<std::uint16_t>(value >> 16U));
}

void CfbImage::put_u64(std::size_t at, std::uint64_t value)
{
    put_u32(at, static_cast<std::uint32_t>(value));
    put_u32(at + 4, static_cast<std::uint32_t>(value >> 32U));
}

std::size_t CfbImage::sector_size() const
{
    return std::size_t{1} << bytes_.at(sector_shift_at);
}

std::size_t CfbImage::sector_offset(std::uint32_t sector) const
{
    return header_size + std::size_t{sector} * sector_size();
}

std::size_t CfbImage::fat_entry_offset(std::uint32_t sector) const
{
    const std::size_t per_sector = sector_size() / 4;
    const std::uint32_t fat_sector = u32(header_difat_at + 4 * (sector / per_sector));
    return sector_offset(fat_sector) + 4 * (sector % per_sector);
}

std::vector<std::uint32_t> CfbImage::chain(std::uint32_t first) const
{
    std::vector<std::uint32_t> sectors;
    for (std::uint32_t s = first; s < 0xFFFFFFFA && sectors.size() < bytes_.size(); s = u32(fat_entry_offset(s))) {
        sectors.push_back(s);
    }
    return sectors;
}

CfbImage::Entry CfbImage::entry(std::string_view name) const
{
    std::uint32_t id = 0;
    for (const std::uint32_t sector : chain(u32(first_directory_sector_at))) {
        for (std::size_t i = 0; i < sector_size() / entry_size; ++i, ++id) {
            const std::size_t at = sector_offset(sector) + i * entry_size;
            const std::size_t name_bytes = bytes_.at(at + name_length_at) | bytes_.at(at + name_length_at + 1) << 8U;
            std::string stored;
            for (std::size_t k = 0; k + 2 < name_bytes; k += 2) {
                stored.push_back(static_cast<char>(bytes_.at(at + k)));
            }
            if (stored == name) {
                return {at, id};
            }
        }
    }
    throw std::runtime_error("no directory entry '" + std::string(name) + "'");
}

}  // namespace hostile
