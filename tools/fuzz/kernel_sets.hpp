#pragma once

#include <cstdint>
#include <span>

// Every payload decoder set the processor runs, each against the oracle.
namespace fuzz {

// Prints, once, which sets run here and which are skipped.
int announce_kernel_sets();

// Both outputs of every set that runs, on `payload` decoded as it stands.
void expect_kernel_sets_agree(std::span<const std::uint8_t> payload);

}  // namespace fuzz
