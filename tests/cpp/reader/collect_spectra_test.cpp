#include <gtest/gtest.h>

#include "melvane_core/spectrum_source.hpp"

namespace {

using melvane_core::SizeHint;
using melvane_core::SpectrumRecord;

// Yields `count` records whose mz arrays carry their index, with a chosen hint.
class CountingIterator final : public melvane_core::SpectrumIterator {
public:
    CountingIterator(std::size_t count, bool exact_hint, bool& released)
        : count_(count), exact_hint_(exact_hint), released_(released)
    {
    }
    ~CountingIterator() override { released_ = true; }

    std::optional<SpectrumRecord> next() override
    {
        if (given_ == count_) {
            return std::nullopt;
        }
        SpectrumRecord record;
        record.index = given_;
        record.mz.assign(3, static_cast<double>(given_));
        mz_addresses.push_back(record.mz.data());
        ++given_;
        return record;
    }
    SizeHint size_hint() const override
    {
        const std::size_t left = count_ - given_;
        return exact_hint_ ? SizeHint{left, left} : SizeHint{0, std::nullopt};
    }

    static inline std::vector<const double*> mz_addresses;

private:
    std::size_t count_;
    std::size_t given_ = 0;
    bool exact_hint_;
    bool& released_;
};

struct Row {
    std::size_t count;
    bool exact_hint;
};

class CollectSpectra : public testing::TestWithParam<Row> {};

TEST_P(CollectSpectra, DrainsInOrderMovesArraysAndReleases)
{
    CountingIterator::mz_addresses.clear();
    bool released = false;
    const auto records = melvane_core::collect_spectra(
        std::make_unique<CountingIterator>(GetParam().count, GetParam().exact_hint, released));
    EXPECT_TRUE(released);
    ASSERT_EQ(records.size(), GetParam().count);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].index, i);
        // The same storage the producer filled: moved, not copied.
        EXPECT_EQ(records[i].mz.data(), CountingIterator::mz_addresses[i]);
    }
    if (GetParam().exact_hint) {
        EXPECT_EQ(records.capacity(), records.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, CollectSpectra,
                         testing::Values(Row{0, true}, Row{1, true}, Row{1000, true}, Row{0, false}, Row{1, false},
                                         Row{1000, false}));

}  // namespace
