#pragma once

#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "mzml/writer.hpp"

struct libdeflate_compressor;

namespace mzml {

// Passes the bytes on to another sink gzip-compressed, each write as one
// gzip member: together they are one gzip file, which decompresses to the
// bytes written, so an index of offsets stays true of the decompressed document.
class GzipSink final : public ByteSink {
public:
    // ENOMEM when no compressor can be had. The sink must outlive this one.
    static std::expected<GzipSink, int> over(ByteSink& sink);

    std::expected<void, int> write(std::span<const char> bytes) override;

private:
    struct CompressorFree {
        void operator()(libdeflate_compressor* compressor) const;
    };
    GzipSink(ByteSink& sink, libdeflate_compressor* compressor);

    ByteSink* sink_;
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor_;
    std::vector<char> member_;
};

}  // namespace mzml
