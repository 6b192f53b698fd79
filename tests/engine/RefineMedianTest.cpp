#include "refine/RefineMedian.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using refine_detail::TMedian;

namespace {

// The median by sorting: the mean of the two middle values for an even count.
double SortedMedian(std::vector<std::int32_t> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return (double(values[(n - 1) / 2]) + double(values[n / 2])) / 2;
}

std::vector<std::int32_t> Deviations(const std::vector<std::int32_t>& values, std::int32_t twice) {
    std::vector<std::int32_t> deviations;
    for (std::int32_t v : values)
        deviations.push_back(std::abs(2 * v - twice));
    return deviations;
}

} // namespace

// Rim values close together (counted), negative ones, and spreads too wide to count
// (sorted instead), of odd and even counts; the deviations about the median, about
// a centre between two levels and about one outside the values, with and without
// the counts of the values themselves.
TEST(TMedian, MediansOfValuesAndOfTheirDeviationsAreThoseOfTheSortedValues) {
    std::mt19937 random(11);
    TMedian median;
    for (int trial = 0; trial < 3000; ++trial) {
        const int count = 1 + int(random() % 120);
        const std::int32_t spread =
            std::vector<std::int32_t>{3, 40, 300, 2047, 5000, 70000}[trial % 6];
        const std::int32_t base = std::int32_t(random() % 600) - 300;
        std::vector<std::int32_t> values;
        for (int i = 0; i < count; ++i)
            values.push_back(base + std::int32_t(random() % std::uint32_t(spread)));
        const std::vector<std::int32_t> kept = values;
        const double expected = SortedMedian(kept);
        ASSERT_EQ(median.Of(values), expected) << "trial " << trial;
        const auto twice = std::int32_t(2 * expected);
        for (std::int32_t centre :
             {twice, twice + 1, twice - 7, 2 * (base - 5), 2 * (base + spread) + 3}) {
            std::vector<std::int32_t> again = values;
            if (centre != twice) {
                // Counted anew for each centre: the walk starts from the counts of
                // the same values.
                again = kept;
                median.Of(again);
            }
            ASSERT_EQ(median.OfDeviations(again, centre), SortedMedian(Deviations(kept, centre)))
                << "trial " << trial << ", centre " << centre;
        }
    }
    std::vector<std::int32_t> none;
    EXPECT_EQ(median.Of(none), 0);
    EXPECT_EQ(median.OfDeviations(none, 4), 0);
}

TEST(TMedian, DeviationsWithoutCountsOfTheSameValuesAreSortedAfresh) {
    TMedian median;
    std::vector<std::int32_t> first{1, 2, 3};
    median.Of(first);
    // Values the last median did not count: wide apart, so not counted either.
    std::vector<std::int32_t> values{0, 10000, 20000, 30001};
    std::vector<std::int32_t> wide = values;
    median.Of(wide);
    EXPECT_EQ(median.OfDeviations(wide, 20000), SortedMedian(Deviations(values, 20000)));
}
