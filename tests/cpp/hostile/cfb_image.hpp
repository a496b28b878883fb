#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The bytes of a compound file, with the structures that damage cases patch
// located as the format lays them out: a 512-byte header, then sectors
// numbered from 0; the allocation table (FAT) chains sectors; the directory
// is a chain of 128-byte entries.
namespace hostile {

class CfbImage {
public:
    static constexpr std::size_t major_version_at = 0x1A;
    static constexpr std::size_t byte_order_at = 0x1C;
    static constexpr std::size_t sector_shift_at = 0x1E;
    static constexpr std::size_t mini_sector_shift_at = 0x20;
    static constexpr std::size_t reserved_at = 0x22;
    static constexpr std::size_t directory_sector_count_at = 0x28;
    static constexpr std::size_t fat_sector_count_at = 0x2C;
    static constexpr std::size_t first_directory_sector_at = 0x30;
    static constexpr std::size_t mini_stream_cutoff_at = 0x38;
    static constexpr std::size_t first_mini_fat_sector_at = 0x3C;
    static constexpr std::size_t mini_fat_sector_count_at = 0x40;
    static constexpr std::size_t header_difat_at = 0x4C;

    static constexpr std::size_t entry_left_at = 0x44;
    static constexpr std::size_t entry_right_at = 0x48;
    static constexpr std::size_t entry_child_at = 0x4C;
    static constexpr std::size_t entry_start_sector_at = 0x74;
    static constexpr std::size_t entry_size_at = 0x78;

    static constexpr std::uint32_t end_of_chain = 0xFFFFFFFE;

    explicit CfbImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    std::uint32_t u32(std::size_t at) const;
    void put_u16(std::size_t at, std::uint16_t value);
    void put_u32(std::size_t at, std::uint32_t value);
    void put_u64(std::size_t at, std::uint64_t value);
    void truncate(std::size_t length) { bytes_.resize(length); }

    std::size_t sector_offset(std::uint32_t sector) const;
    // Where the FAT entry of `sector` is stored (FAT sectors from the header's DIFAT).
    std::size_t fat_entry_offset(std::uint32_t sector) const;
    std::vector<std::uint32_t> chain(std::uint32_t first) const;

    // Offset of the directory entry with this name, and its number.
    struct Entry {
        std::size_t offset;
        std::uint32_t id;
    };
    Entry entry(std::string_view name) const;

private:
    std::size_t sector_size() const;

    std::vector<std::uint8_t> bytes_;
};

}  // namespace hostile
