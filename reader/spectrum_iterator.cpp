#include <string>
#include <vector>

#include "raw/block_peaks.hpp"
#include "record_fields.hpp"
#include "tarvok/reader.hpp"

namespace tarvok {
namespace {

class ReaderIterator final : public melvane_core::SpectrumIterator {
public:
    ReaderIterator(std::string sample_name, std::string scan_path, std::vector<raw::IdxRecord> records,
                   std::vector<std::uint64_t> end_offsets)
        : sample_name_(std::move(sample_name)),
          scan_path_(std::move(scan_path)),
          records_(std::move(records)),
          end_offsets_(std::move(end_offsets))
    {
    }

    std::optional<melvane_core::SpectrumRecord> next() override
    {
        if (next_record_ == records_.size()) {
            return std::nullopt;
        }
        const raw::IdxRecord& record = records_[next_record_++];
        if (next_end_offset_ == end_offsets_.size()) {
            return std::nullopt;
        }
        const std::uint64_t end_offset = end_offsets_[next_end_offset_++];
        const std::size_t position = position_++;
        return produce(position, record, end_offset);
    }

    melvane_core::SizeHint size_hint() const override
    {
        const std::size_t left =
            std::min(records_.size() - next_record_, end_offsets_.size() - next_end_offset_);
        return {left, left};
    }

private:
    melvane_core::SpectrumRecord produce(std::size_t position, const raw::IdxRecord& record,
                                         std::uint64_t end_offset)
    {
        melvane_core::SpectrumRecord spectrum;
        fill_record_fields(spectrum, position, record, sample_name_);

        // A block that cannot be read gives a spectrum without peaks.
        (void)raw::read_block_peaks(scan_path_, record.block_offset, end_offset, scratch_, spectrum.mz,
                                    spectrum.intensity);
        return spectrum;
    }

    std::string sample_name_;
    std::string scan_path_;
    std::vector<raw::IdxRecord> records_;
    std::vector<std::uint64_t> end_offsets_;
    std::size_t next_record_ = 0;
    std::size_t next_end_offset_ = 0;
    std::size_t position_ = 0;
    raw::BlockScratch scratch_;
};

}  // namespace

std::unique_ptr<melvane_core::SpectrumIterator> Reader::iter_spectra() const
{
    std::vector<std::uint64_t> end_offsets(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        end_offsets[i] = end_offset_of(records, i, scan_file_len);
    }
    return std::make_unique<ReaderIterator>(sample_name, scan_path, records, std::move(end_offsets));
}

}  // namespace tarvok
