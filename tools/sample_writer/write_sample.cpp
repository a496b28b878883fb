#include "sample_writer/sample_writer.hpp"
#include "tarvok/raw/layout.hpp"

namespace sample_writer {

std::expected<void, std::string> write_sample(const std::string& wiff_path,
                                              std::span<const std::uint8_t> idx_stream,
                                              std::span<const std::uint8_t> scan_bytes) {
    const Stream index{std::string(tarvok::raw::layout::index_stream_path), {idx_stream.begin(), idx_stream.end()}};
    if (auto written = write_container(wiff_path, std::span(&index, 1)); !written) {
        return written;
    }
    return write_file(wiff_path + ".scan", scan_bytes);
}

}  // namespace sample_writer
