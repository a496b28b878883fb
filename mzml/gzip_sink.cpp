#include "mzml/gzip_sink.hpp"

#include <libdeflate.h>

#include <cerrno>

namespace mzml {

// As for the arrays: higher levels gain little on mzML and cost several times the time.
constexpr int gzip_level = 1;

void GzipSink::CompressorFree::operator()(libdeflate_compressor* compressor) const
{
    libdeflate_free_compressor(compressor);
}

GzipSink::GzipSink(ByteSink& sink, libdeflate_compressor* compressor) : sink_(&sink), compressor_(compressor) {}

std::expected<GzipSink, int> GzipSink::over(ByteSink& sink)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(gzip_level);
    if (compressor == nullptr) {
        return std::unexpected(ENOMEM);
    }
    return GzipSink(sink, compressor);
}

std::expected<void, int> GzipSink::write(std::span<const char> bytes)
{
    // An empty member would be valid, but there is nothing to say.
    if (bytes.empty()) {
        return {};
    }
    member_.resize(libdeflate_gzip_compress_bound(compressor_.get(), bytes.size()));
    const std::size_t size =
        libdeflate_gzip_compress(compressor_.get(), bytes.data(), bytes.size(), member_.data(), member_.size());
    if (size == 0) {
        return std::unexpected(ENOBUFS);  // the bound was too small: cannot happen
    }
    return sink_->write(std::span<const char>(member_.data(), size));
}

}  // namespace mzml
