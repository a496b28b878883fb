#include "tarvok/strict_spectra.hpp"

#include <fcntl.h>

#include "raw/block_peaks.hpp"
#include "raw/scan_window.hpp"
#include "record_fields.hpp"
#include "unique_fd.hpp"

namespace tarvok {

struct StrictSpectra::State {
    Reader reader;
    std::size_t next = 0;
    UniqueFd scan_fd;
    raw::BlockScratch scratch;
};

StrictSpectra::StrictSpectra(Reader reader) : state_(std::make_unique<State>())
{
    state_->reader = std::move(reader);
}

StrictSpectra::StrictSpectra(StrictSpectra&&) noexcept = default;
StrictSpectra& StrictSpectra::operator=(StrictSpectra&&) noexcept = default;
StrictSpectra::~StrictSpectra() = default;

std::size_t StrictSpectra::size() const
{
    return state_->reader.records.size();
}

std::size_t StrictSpectra::position() const
{
    return state_->next;
}

std::expected<bool, Error> StrictSpectra::next(melvane_core::SpectrumRecord& into)
{
    State& state = *state_;
    const std::vector<raw::IdxRecord>& records = state.reader.records;
    if (state.next == records.size()) {
        return false;
    }
    const std::size_t position = state.next++;
    const raw::IdxRecord& record = records[position];
    const std::uint64_t end_offset = end_offset_of(records, position, state.reader.scan_file_len);
    fill_record_fields(into, position, record, state.reader.sample_name);

    // An empty window is answered without the file, as iter_spectra does, so
    // the file is opened only once a block needs it.
    if (end_offset <= record.block_offset) {
        into.mz.clear();
        into.intensity.clear();
        return true;
    }
    if (!state.scan_fd) {
        int os_error = 0;
        state.scan_fd = open_read_only(state.reader.scan_path, os_error);
        if (!state.scan_fd) {
            return std::unexpected(Error::from_errno(os_error));
        }
        ::posix_fadvise(state.scan_fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    const std::expected<std::span<const std::uint8_t>, Error> window =
        raw::read_window_at(state.scan_fd.get(), record.block_offset, end_offset, state.scratch.window);
    if (!window) {
        return std::unexpected(window.error());
    }
    raw::decode_block_peaks(*window, state.scratch, into.mz, into.intensity);
    return true;
}

}  // namespace tarvok
