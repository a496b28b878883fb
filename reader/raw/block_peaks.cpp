#include "block_peaks.hpp"

#include <algorithm>

#include "payload_kernels.hpp"

namespace tarvok::raw {

void BlockScratch::reserve_peaks(std::size_t count)
{
    if (count <= capacity_) {
        return;
    }
    capacity_ = std::max(count, 2 * capacity_);
    mz_ = std::make_unique_for_overwrite<double[]>(capacity_);
    intensity_ = std::make_unique_for_overwrite<float[]>(capacity_);
}

void decode_block_peaks(std::span<const std::uint8_t> window, BlockScratch& scratch, std::vector<double>& mz,
                        std::vector<float>& intensity)
{
    decode_payload_peaks(window.first(payload_length(window)), scratch, mz, intensity);
}

void decode_payload_peaks(std::span<const std::uint8_t> payload, BlockScratch& scratch, std::vector<double>& mz,
                          std::vector<float>& intensity)
{
    scratch.reserve_peaks(payload.size() + decode_slack);
    const std::size_t count = payload_kernels().peaks(payload, scratch.mz(), scratch.intensity());
    mz.assign(scratch.mz(), scratch.mz() + count);
    intensity.assign(scratch.intensity(), scratch.intensity() + count);
}

std::expected<void, Error> read_block_peaks(const std::string& scan_path, std::uint64_t start_offset,
                                            std::uint64_t end_offset, BlockScratch& scratch,
                                            std::vector<double>& mz, std::vector<float>& intensity)
{
    const std::expected<std::span<const std::uint8_t>, Error> window =
        read_window(scan_path, start_offset, end_offset, scratch.window);
    if (!window) {
        return std::unexpected(window.error());
    }
    decode_block_peaks(*window, scratch, mz, intensity);
    return {};
}

}  // namespace tarvok::raw
