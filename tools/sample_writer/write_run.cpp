#include "sample_writer/sample_writer.hpp"

namespace sample_writer {

std::expected<void, std::string> write_run(const std::string& wiff_path, const RunOptions& options) {
    const Run run = make_run(options);
    if (run.index.size() != options.scans) {
        return std::unexpected("a run of " + std::to_string(options.scans) +
                               " scans does not fit 32-bit block offsets; it stops after " +
                               std::to_string(run.index.size()));
    }
    return write_sample(wiff_path, encode_index(run.index), run.scan_bytes);
}

}  // namespace sample_writer
