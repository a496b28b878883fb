#include "mzml/gzip_sink.hpp"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "ordered_pool.hpp"

namespace mzml {
namespace {

// As for the arrays: higher levels gain little on mzML and cost several times the time.
constexpr int gzip_level = 1;
// Large enough that a member's header and its fresh start cost nothing
// measurable, small enough that one write gives every thread a member.
constexpr std::size_t member_input = std::size_t{256} << 10;

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

struct Member {
    std::span<const char> input;  // the caller's, for the length of one write
    std::vector<char> output;     // room for the largest a member can be
    std::size_t size = 0;         // 0: the room was too small, which cannot happen
};

}  // namespace

struct GzipSink::State {
    explicit State(ByteSink& target) : sink(&target) {}

    void compress(std::size_t slot, std::size_t thread) noexcept
    {
        Member& member = members[slot];
        member.size = libdeflate_gzip_compress(compressors[thread].get(), member.input.data(), member.input.size(),
                                               member.output.data(), member.output.size());
    }

    ByteSink* sink;
    std::vector<Compressor> compressors;  // one per thread: a compressor is not shared
    std::vector<Member> members;
    int failure = 0;  // the sink's first failure: nothing is passed on after it
    // Last, so that its workers stop before what they use goes.
    std::unique_ptr<OrderedPool> pool;
};

std::expected<GzipSink, int> GzipSink::over(ByteSink& sink, std::size_t threads)
{
    threads = std::max<std::size_t>(threads, 1);
    auto state = std::make_unique<State>(sink);
    for (std::size_t i = 0; i < threads; ++i) {
        state->compressors.emplace_back(libdeflate_alloc_compressor(gzip_level));
        if (!state->compressors.back()) {
            return std::unexpected(ENOMEM);
        }
    }
    const std::size_t room = libdeflate_gzip_compress_bound(state->compressors.front().get(), member_input);
    state->members.resize(2 * threads);
    for (Member& member : state->members) {
        member.output.resize(room);
    }
    State* st = state.get();
    state->pool = std::make_unique<OrderedPool>(threads, state->members.size(),
                                                [st](std::size_t slot, std::size_t thread) { st->compress(slot, thread); });
    return GzipSink(std::move(state));
}

std::expected<void, int> GzipSink::write(std::span<const char> bytes)
{
    State& st = *state_;
    OrderedPool& pool = *st.pool;
    // Every member queued is taken back before returning: they point into `bytes`.
    while (st.failure == 0 && (!bytes.empty() || !pool.empty())) {
        if (!bytes.empty() && !pool.full()) {
            const std::size_t take = std::min(bytes.size(), member_input);
            st.members[pool.next_slot()].input = bytes.first(take);
            pool.submit();
            bytes = bytes.subspan(take);
            continue;
        }
        const Member& member = st.members[pool.wait_oldest()];
        if (member.size == 0) {
            st.failure = ENOBUFS;
        } else if (auto written = st.sink->write(std::span<const char>(member.output.data(), member.size)); !written) {
            st.failure = written.error();
        }
        pool.release_oldest();
    }
    while (!pool.empty()) {
        pool.wait_oldest();
        pool.release_oldest();
    }
    if (st.failure != 0) {
        return std::unexpected(st.failure);
    }
    return {};
}

GzipSink::GzipSink(std::unique_ptr<State> state) : state_(std::move(state)) {}
GzipSink::GzipSink(GzipSink&&) noexcept = default;
GzipSink& GzipSink::operator=(GzipSink&&) noexcept = default;
GzipSink::~GzipSink() = default;

}  // namespace mzml
