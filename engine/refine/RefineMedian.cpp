#include "refine/RefineMedian.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace refine_detail {

double TMedian::Of(std::vector<std::int32_t>& values) {
    counted_ = false;
    if (values.empty())
        return 0;
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    const std::int32_t low = *lowest;
    const std::int64_t range = std::int64_t(*highest) - low + 1;
    if (range > kMaxCountedRange) {
        const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        double median = *middle;
        if (values.size() % 2 == 0)
            median = (median + *std::max_element(values.begin(), middle)) / 2;
        return median;
    }
    counts_.assign(std::size_t(range), 0);
    for (std::int32_t v : values)
        ++counts_[std::size_t(v - low)];
    counted_ = true;
    countedLow_ = low;
    // The values at positions (n − 1) / 2 and n / 2 in sorted order.
    const std::size_t lowerPosition = (values.size() - 1) / 2, upperPosition = values.size() / 2;
    std::size_t seen = 0;
    std::int32_t lower = low, upper = low;
    bool haveLower = false;
    for (std::size_t bin = 0; bin < counts_.size(); ++bin) {
        seen += counts_[bin];
        if (!haveLower && seen > lowerPosition) {
            lower = low + std::int32_t(bin);
            haveLower = true;
        }
        if (seen > upperPosition) {
            upper = low + std::int32_t(bin);
            break;
        }
    }
    return (double(lower) + double(upper)) / 2;
}

double TMedian::OfDeviations(std::vector<std::int32_t>& values, std::int32_t twiceCentre) {
    if (!counted_ || values.empty()) {
        for (std::int32_t& v : values)
            v = std::abs(2 * v - twiceCentre);
        return Of(values);
    }
    // The deviations in rising order: the counted values walked outward from the
    // centre, those at or below it downward and those above it upward, the nearer
    // of the two next ones first.
    const auto bins = std::int64_t(counts_.size());
    std::int64_t below =
        std::clamp<std::int64_t>((std::int64_t(twiceCentre) >> 1) - countedLow_, -1, bins - 1);
    std::int64_t above = below + 1;
    auto deviation = [&](std::int64_t bin) {
        return std::abs(2 * (countedLow_ + bin) - std::int64_t(twiceCentre));
    };
    const std::size_t lowerPosition = (values.size() - 1) / 2, upperPosition = values.size() / 2;
    std::size_t seen = 0;
    std::int64_t lower = 0;
    bool haveLower = false;
    while (below >= 0 || above < bins) {
        const bool down = above >= bins || (below >= 0 && deviation(below) <= deviation(above));
        const std::int64_t bin = down ? below-- : above++;
        seen += counts_[std::size_t(bin)];
        if (!haveLower && seen > lowerPosition) {
            lower = deviation(bin);
            haveLower = true;
        }
        if (seen > upperPosition)
            return (double(lower) + double(deviation(bin))) / 2;
    }
    return 0; // not reached: the counts hold every value
}

} // namespace refine_detail
