#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scan_window.hpp"
#include "tarvok/error.hpp"

namespace tarvok::raw {

// What reading one block needs beyond the spectrum's own lists, kept from
// block to block: the window's bytes and room to decode into, so that the
// lists a spectrum keeps are allocated once, at their final size.
class BlockScratch {
public:
    WindowBuffer window;

    void reserve_peaks(std::size_t count);
    double* mz() { return mz_.get(); }
    float* intensity() { return intensity_.get(); }

private:
    std::unique_ptr<double[]> mz_;
    std::unique_ptr<float[]> intensity_;
    std::size_t capacity_ = 0;
};

// A payload (the bytes in front of the terminator) decoded into a spectrum's
// lists: the points of intensity 0 left out, the lists replaced and allocated
// at their final size.
void decode_payload_peaks(std::span<const std::uint8_t> payload, BlockScratch& scratch, std::vector<double>& mz,
                          std::vector<float>& intensity);

// The bytes a window read delivered, cut in front of their first FF FF FF FF
// and decoded into a spectrum's lists: the points of intensity 0 left out, the
// lists replaced and allocated at their final size.
void decode_block_peaks(std::span<const std::uint8_t> window, BlockScratch& scratch, std::vector<double>& mz,
                        std::vector<float>& intensity);

// read_scan_block followed by the conversion into a spectrum's lists: the
// same file access and values, with the points of intensity 0 left out. The
// lists are filled only on success.
std::expected<void, Error> read_block_peaks(const std::string& scan_path, std::uint64_t start_offset,
                                            std::uint64_t end_offset, BlockScratch& scratch,
                                            std::vector<double>& mz, std::vector<float>& intensity);

}  // namespace tarvok::raw
