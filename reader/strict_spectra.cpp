#include "tarvok/strict_spectra.hpp"

#include <fcntl.h>

#include "block_damage.hpp"
#include "raw/block_peaks.hpp"
#include "raw/payload_kernels.hpp"
#include "raw/scan_window.hpp"
#include "record_fields.hpp"
#include "unique_fd.hpp"

namespace tarvok {

struct StrictSpectra::State {
    Reader reader;
    DamagePolicy policy = DamagePolicy::refuse;
    std::size_t next = 0;
    UniqueFd scan_fd;
    raw::BlockScratch scratch;
    std::optional<BlockDamage> damage;

    // Notes the damage; under refuse, the Error that next() returns for it.
    std::optional<Error> judge(std::uint32_t scan_number, std::string_view reason)
    {
        damage = BlockDamage{scan_number, std::string(reason)};
        if (policy == DamagePolicy::salvage) {
            return std::nullopt;
        }
        return Error::parse(damage_text(*damage));
    }
};

std::string damage_text(const BlockDamage& damage)
{
    return "scan " + std::to_string(damage.scan_number) + ": " + damage.reason;
}

StrictSpectra::StrictSpectra(Reader reader, DamagePolicy policy) : state_(std::make_unique<State>())
{
    state_->reader = std::move(reader);
    state_->policy = policy;
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

const std::optional<BlockDamage>& StrictSpectra::damage() const
{
    return state_->damage;
}

bool StrictSpectra::skip()
{
    state_->damage.reset();
    if (state_->next == state_->reader.records.size()) {
        return false;
    }
    ++state_->next;
    return true;
}

IndexFacts StrictSpectra::index_facts(std::size_t position) const
{
    const raw::IdxRecord& record = state_->reader.records.at(position);
    return {scan_number_at(position), record.ms_level, retention_time_sec_of(record)};
}

std::expected<bool, Error> StrictSpectra::next(melvane_core::SpectrumRecord& into)
{
    State& state = *state_;
    state.damage.reset();
    const std::vector<raw::IdxRecord>& records = state.reader.records;
    if (state.next == records.size()) {
        return false;
    }
    const std::size_t position = state.next++;
    const raw::IdxRecord& record = records[position];
    const BlockPlace place{
        .block_offset = record.block_offset,
        .end_offset = end_offset_of(records, position, state.reader.scan_file_len),
        .last = position + 1 == records.size(),
        .scan_file_len = state.reader.scan_file_len,
    };
    fill_record_fields(into, position, record, state.reader.sample_name);

    if (const std::optional<std::string_view> reason = damage_before_reading(place)) {
        if (std::optional<Error> refused = state.judge(into.scan_number, *reason)) {
            return std::unexpected(*std::move(refused));
        }
    }
    // An empty window is answered without the file, as iter_spectra does, so
    // the file is opened only once a block needs it.
    if (place.end_offset <= place.block_offset) {
        into.mz.clear();
        into.intensity.clear();
        return true;
    }
    if (!state.scan_fd) {
        int os_error = 0;
        state.scan_fd = open_read_only(state.reader.scan_path, os_error);
        if (!state.scan_fd) {
            state.damage.reset();
            return std::unexpected(Error::from_errno(os_error));
        }
        ::posix_fadvise(state.scan_fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    const std::expected<std::span<const std::uint8_t>, Error> window = raw::read_window_at(
        state.scan_fd.get(), place.block_offset, place.end_offset, state.scratch.window);
    if (!window) {
        state.damage.reset();
        return std::unexpected(window.error());
    }
    const std::size_t payload = raw::payload_length(*window);
    if (payload == window->size() && !state.damage) {
        if (std::optional<Error> refused = state.judge(into.scan_number, damage_reason::no_terminator)) {
            return std::unexpected(*std::move(refused));
        }
    }
    raw::decode_payload_peaks(window->first(payload), state.scratch, into.mz, into.intensity);
    return true;
}

}  // namespace tarvok
