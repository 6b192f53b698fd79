#pragma once
// Medians of the small sets of light values a refining window's rim holds.

#include <cstdint>
#include <vector>

namespace refine_detail {

// Keeps its counts from one median to the next; one object per thread.
class TMedian {
public:
    /// The median of values (the mean of the two middle ones for an even count); 0
    /// for none. The values of a window's rim are grey levels close together, so
    /// they are counted rather than sorted; values is left reordered or as it was.
    double Of(std::vector<std::int32_t>& values);

    /// Of the deviations |2v − twiceCentre| of values, from the counts the last Of
    /// made of the same values where it counted them. values is left reordered, or
    /// as it was, or replaced by the deviations.
    double OfDeviations(std::vector<std::int32_t>& values, std::int32_t twiceCentre);

private:
    static constexpr std::int64_t kMaxCountedRange = 2048;
    std::vector<std::uint32_t> counts_;
    bool counted_ = false; // counts_ holds the last Of's values, from countedLow_
    std::int32_t countedLow_ = 0;
};

} // namespace refine_detail
