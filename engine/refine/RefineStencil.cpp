#include "refine/RefineStencil.h"

namespace refine_detail {

TStencil::TStencil(std::int32_t radius) : radius_(radius) {
    const std::int32_t side = 2 * radius + 1;
    for (std::int32_t dy = -radius; dy <= radius; ++dy)
        for (std::int32_t dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius)
                entries_.push_back({dx, dy, dx * dx + dy * dy, 0});
    std::sort(entries_.begin(), entries_.end(), [](const TEntry& a, const TEntry& b) {
        if (a.Distance2 != b.Distance2)
            return a.Distance2 < b.Distance2;
        return a.Dy != b.Dy ? a.Dy < b.Dy : a.Dx < b.Dx;
    });
    std::vector<std::int32_t> index(std::size_t(side) * std::size_t(side), -1);
    auto at = [&](std::int32_t dx, std::int32_t dy) -> std::int32_t& {
        return index[std::size_t(dy + radius) * std::size_t(side) + std::size_t(dx + radius)];
    };
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        TEntry& e = entries_[i];
        at(e.Dx, e.Dy) = std::int32_t(i);
        if (i == 0)
            continue;
        // The rounded point one pixel nearer along the ray lies strictly nearer.
        const double inward = 1 - 1 / std::sqrt(double(e.Distance2));
        e.Parent =
            at(std::int32_t(std::lround(e.Dx * inward)), std::int32_t(std::lround(e.Dy * inward)));
    }
    within_.assign(std::size_t(radius) * std::size_t(radius) + 1, 0);
    for (const TEntry& e : entries_)
        ++within_[std::size_t(e.Distance2)];
    for (std::size_t d = 1; d < within_.size(); ++d)
        within_[d] += within_[d - 1];
}

const TStencil& CommonStencil() {
    static const TStencil stencil(kStencilRadius);
    return stencil;
}

} // namespace refine_detail
