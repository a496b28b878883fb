#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>

#include "mzml/writer.hpp"

namespace mzml {

// Passes the bytes on to another sink gzip-compressed, as gzip members of
// at most 256 KiB of input each, cut where each write's bytes reach that
// size: together they are one gzip file, which decompresses to the bytes
// written, so an index of offsets stays true of the decompressed document.
// The members of one write are compressed on a few threads at once and
// passed on in order before write returns; where they are cut depends on the
// writes alone, so the file is the same for any number of threads.
class GzipSink final : public ByteSink {
public:
    // Compresses on `threads` threads, the writing one among them. ENOMEM
    // when no compressor can be had. The sink must outlive this one.
    static std::expected<GzipSink, int> over(ByteSink& sink, std::size_t threads = 1);

    std::expected<void, int> write(std::span<const char> bytes) override;

    GzipSink(GzipSink&&) noexcept;
    GzipSink& operator=(GzipSink&&) noexcept;
    ~GzipSink() override;

private:
    struct State;
    explicit GzipSink(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace mzml
