#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace sample_writer::cli {

std::expected<std::vector<std::uint8_t>, std::string> read_file(const std::string& path);

}  // namespace sample_writer::cli
