// The layout of the dots: a jittered grid in the picture, or the target's jittered
// grid as far as the camera sees it whole; gains and shuffled numbers on top.

#include "SampleLayout.h"

#include "SampleCamera.h"
#include "SampleDotLight.h"
#include "SampleRandom.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

using sample_detail::DotImageBox;
using sample_detail::DotReach;
using sample_detail::PatchInside;
using sample_detail::StreamSeed;
using sample_detail::TImageBox;
using sample_detail::Uniform;

namespace {

// Gains spread and numbers shuffled over laid-out dots, each from a stream of its own,
// so that the layout of a stack without them stays what it was.
void SpreadAndShuffle(const TSampleOptions& options, std::vector<TSampleDot>& dots) {
    if (options.GainSpread > 0) {
        std::uint64_t gains = StreamSeed(options.Seed, 0, 1);
        for (TSampleDot& dot : dots)
            dot.Gain = 1 + (2 * Uniform(gains) - 1) * options.GainSpread;
    }
    if (options.Shuffle) {
        // Fisher–Yates over the numbers and codes; positions stay where they are.
        std::uint64_t order = StreamSeed(options.Seed, 0, 2);
        for (std::size_t i = dots.size(); i > 1; --i) {
            const auto j = std::size_t(Uniform(order) * double(i));
            std::swap(dots[i - 1].Number, dots[j].Number);
            std::swap(dots[i - 1].Code, dots[j].Code);
        }
    }
}

// The target's dots in view of the camera.
std::vector<TSampleDot> LayoutTargetDots(const TSampleOptions& options) {
    const TSampleCamera& camera = *options.Camera;
    const TSampleTarget& target = camera.Target;
    const TSampleProjection projection(camera);
    const std::int64_t count =
        std::min(std::int64_t(target.Columns) * target.Rows, std::int64_t(options.MaxDots));
    std::vector<TSampleDot> dots;
    dots.reserve(std::size_t(count));
    std::uint64_t random = StreamSeed(options.Seed, 0, 0);
    for (int n = 0; n < count; ++n) {
        const double jx = (2 * Uniform(random) - 1) * target.Jitter;
        const double jy = (2 * Uniform(random) - 1) * target.Jitter;
        const int number = options.DistinctCodes > 0 ? n % options.DistinctCodes : n;
        TSampleDot dot{n, 2 * number + 1, 0, 0};
        dot.TargetX = (n % target.Columns - (target.Columns - 1) / 2.0) * target.Pitch + jx;
        dot.TargetY = (n / target.Columns - (target.Rows - 1) / 2.0) * target.Pitch + jy;
        dots.push_back(dot);
    }
    SpreadAndShuffle(options, dots);

    std::vector<TSampleDot> inView;
    for (TSampleDot& dot : dots) {
        std::optional<TImageBox> box;
        try {
            box = DotImageBox(projection, dot.TargetX, dot.TargetY, target.DotRadius, dot.Number);
        } catch (const std::invalid_argument&) {
            // Too large a dot matters only where it is in view.
            if (std::optional<TSampleXY> p = projection.ToImage(dot.TargetX, dot.TargetY);
                p && p->X >= 0 && p->X <= options.Width - 1 && p->Y >= 0 &&
                p->Y <= options.Height - 1)
                throw;
            continue;
        }
        if (!box || !PatchInside(*box, options.Blur, options))
            continue;
        const std::optional<TSampleXY> centre = projection.ToImage(dot.TargetX, dot.TargetY);
        if (!centre)
            continue;
        dot.X = centre->X;
        dot.Y = centre->Y;
        inView.push_back(dot);
    }
    return inView;
}

} // namespace

std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options) {
    CheckSampleOptions(options);
    if (options.Camera)
        return LayoutTargetDots(options);
    const double pitch = options.Spacing;
    // The margin keeps every dot's light, jittered centre included, inside the picture.
    const double margin = std::max(pitch, DotReach(options) + options.Jitter);
    auto cells = [&](int side) -> std::int64_t {
        const double room = (side - 1) - 2 * margin;
        return room < 0 ? 0 : static_cast<std::int64_t>(std::floor(room / pitch)) + 1;
    };
    const std::int64_t columns = cells(options.Width);
    const std::int64_t rows = cells(options.Height);
    const std::int64_t count =
        std::min({columns * rows, std::int64_t(options.MaxDots), std::int64_t(kSampleMaxDots)});
    std::vector<TSampleDot> dots;
    if (count == 0)
        return dots;
    const std::int64_t usedRows = (count + columns - 1) / columns;
    const double x0 = (options.Width - 1) / 2.0 - double(columns - 1) * pitch / 2;
    const double y0 = (options.Height - 1) / 2.0 - double(usedRows - 1) * pitch / 2;
    std::uint64_t random = StreamSeed(options.Seed, 0, 0);
    dots.reserve(std::size_t(count));
    for (int n = 0; n < count; ++n) {
        const double jx = (2 * Uniform(random) - 1) * options.Jitter;
        const double jy = (2 * Uniform(random) - 1) * options.Jitter;
        const int number = options.DistinctCodes > 0 ? n % options.DistinctCodes : n;
        dots.push_back({n, 2 * number + 1, x0 + double(n % columns) * pitch + jx,
                        y0 + double(n / columns) * pitch + jy});
    }
    SpreadAndShuffle(options, dots);
    return dots;
}

bool SampleDotLit(const TSampleDot& dot, int k) {
    if (k <= 0)
        return false;
    if (k == 1)
        return true;
    return k - 2 < 31 && ((dot.Code >> (k - 2)) & 1) != 0;
}
