#include "refine/Refine.h"

#include "base/Format.h"
#include "base/Parallel.h"
#include "refine/RefineBlobs.h"
#include "refine/RefineWindow.h"
#include "refine/RefineWindowTuning.h"
#include "base/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <utility>

using refine_detail::kMaxGrowth;
using refine_detail::kMaxGrowthPixels;
using refine_detail::kMaxReach;
using refine_detail::TBlob;
using refine_detail::TBlobs;
using refine_detail::TBlobShape;
using refine_detail::TLight;
using refine_detail::TNeighbourGrid;
using refine_detail::TRefiner;

namespace {

// The sensor noise of the light where no dot is lit, as a normal sigma: from the
// median absolute difference of neighbouring pixels without a code, in every few
// rows, so that slow changes of the background do not count.
double BackgroundNoise(const TLight& light, const TCodeRuns& codes) {
    std::vector<std::uint64_t> histogram(2 * std::size_t(light.Range()) + 1, 0);
    std::uint64_t count = 0;
    const std::int32_t rowStep = std::max(4, light.Height() / 256);
    std::vector<std::int32_t> values(std::size_t(light.Width()));
    for (std::int32_t row = 0; row < light.Height(); row += rowStep) {
        if (light.Width() == 0)
            break;
        light.Row(row, 0, light.Width() - 1, values.data());
        // Pixels without a code lie between the runs of the row.
        std::int32_t free = 0;
        auto addUpTo = [&](std::int32_t end) {
            for (std::int32_t col = free + 1; col < end; ++col) {
                ++histogram[std::size_t(
                    std::abs(values[std::size_t(col)] - values[std::size_t(col) - 1]))];
                ++count;
            }
        };
        for (std::size_t i = codes.RowBegin(row); i < codes.RowEnd(row); ++i) {
            addUpTo(codes[i].Begin);
            free = codes[i].End;
        }
        addUpTo(light.Width());
    }
    if (count == 0)
        return 0;
    std::uint64_t seen = 0;
    std::size_t median = 0;
    while ((seen += histogram[median]) * 2 < count)
        ++median;
    // |a − b| of two normal values has the median 0.6745 · √2 · sigma.
    return double(median) * 1.4826 / std::numbers::sqrt2;
}

} // namespace

std::vector<TRefinedPoint> RefineCentres(const TLightPlanes& planes, const TCode& codes,
                                         const TUniquePoints& points, int threads,
                                         const std::function<void()>& checkStop) {
    return RefineCentres(planes, TCodeRuns(codes, threads), points, threads, checkStop);
}

std::vector<TRefinedPoint> RefineCentres(const TLightPlanes& planes, const TCodeRuns& codes,
                                         const TUniquePoints& points, int threads,
                                         const std::function<void()>& checkStop) {
    const TLight light(planes, codes.Width(), codes.Height());
    // The background's noise, on a thread of its own where there may be one, while
    // the runs are joined into blobs and the blobs into points.
    double noise = 0;
    std::unique_ptr<TBackgroundTask> noiseTask;
    if (ThreadsFor(threads) > 1)
        noiseTask = TryStartTask([&](std::stop_token) { noise = BackgroundNoise(light, codes); });
    const TBlobs blobs(codes, light, ThreadsFor(threads), checkStop);
    const std::size_t count = std::size_t(std::max(0, points.EntryCount));

    // Each point's main blob: its largest, the first from the top left among equals.
    std::vector<std::int32_t> mainBlob(count, -1);
    std::vector<std::int32_t> pointOfBlob(blobs.Blobs().size(), -1);
    for (std::size_t b = 0; b < blobs.Blobs().size(); ++b) {
        const TBlob& blob = blobs.Blobs()[b];
        const TUniquePoints::TFound found = points.FindCode(blob.Code);
        if (found.Absent || found.Index >= points.EntryCount)
            continue;
        std::int32_t& best = mainBlob[std::size_t(found.Index)];
        if (best < 0 || blob.Pixels > blobs.Blobs()[std::size_t(best)].Pixels)
            best = std::int32_t(b);
    }
    std::vector<TBlobShape> shapes(count);
    for (std::size_t p = 0; p < count; ++p) {
        if (mainBlob[p] < 0)
            continue;
        pointOfBlob[std::size_t(mainBlob[p])] = std::int32_t(p);
        const TBlob& blob = blobs.Blobs()[std::size_t(mainBlob[p])];
        TBlobShape& s = shapes[p];
        s.X = double(blob.SumX) / blob.Pixels;
        s.Y = double(blob.SumY) / blob.Pixels;
        s.Radius = std::sqrt(blob.Pixels / std::numbers::pi);
        s.Reach = std::min(kMaxGrowth * s.Radius + kMaxGrowthPixels, kMaxReach);
        s.Pixels = blob.Pixels;
    }
    const TNeighbourGrid grid(shapes, codes.Width(), codes.Height());
    if (checkStop)
        checkStop();
    if (noiseTask)
        noiseTask->Wait();
    else
        noise = BackgroundNoise(light, codes);

    // Points are taken in bands of rows, left to right, so that the windows that
    // follow each other share the rows of the planes and the codes in the cache.
    // The order changes nothing else: every point is refined on its own.
    constexpr std::int32_t kOrderRows = 32;
    std::vector<std::pair<std::uint64_t, std::int32_t>> order(count);
    for (std::size_t p = 0; p < count; ++p) {
        const std::int64_t band = std::int64_t(std::max(0.0, shapes[p].Y)) / kOrderRows;
        const std::int64_t column = std::int64_t(std::max(0.0, shapes[p].X));
        order[p] = {std::uint64_t(band) << 32 | std::uint64_t(column), std::int32_t(p)};
    }
    std::sort(order.begin(), order.end());

    std::vector<TRefinedPoint> refined(count);
    std::vector<double> background(count, 0);
    std::vector<char> rivalled(count, 0);
    const int workers = ThreadsFor(threads);
    // More bands than threads, so that a band of large dots does not hold up the rest.
    const int bands = std::max(1, std::min<int>(int(count), workers * 8));
    // The first round sees every point alone. The second takes the light of the
    // first round's neighbours off before it refines again; a point that met no
    // neighbour would come out of it the same, and is passed over.
    auto refineAll = [&](const std::vector<TRefinedPoint>* prior,
                         const std::vector<double>* priorBackground) {
        ForEachBand(std::int32_t(count), bands, workers,
                    [&](int, std::int32_t begin, std::int32_t end) {
                        if (checkStop)
                            checkStop();
                        TRefiner refiner(light, blobs, mainBlob, pointOfBlob, shapes, grid, noise);
                        refiner.SetPrior(prior, priorBackground);
                        for (std::int32_t k = begin; k < end; ++k) {
                            const auto i = std::size_t(order[std::size_t(k)].second);
                            if (prior && !rivalled[i])
                                continue;
                            if (k + 1 < end)
                                refiner.Prefetch(order[std::size_t(k) + 1].second);
                            const bool met = refiner.Refine(std::int32_t(i), points.Entries[i],
                                                            refined[i], background[i]);
                            if (!prior)
                                rivalled[i] = met;
                        }
                    });
    };
    refineAll(nullptr, nullptr);
    if (std::any_of(rivalled.begin(), rivalled.end(), [](char r) { return r != 0; })) {
        const std::vector<TRefinedPoint> prior = refined;
        const std::vector<double> priorBackground = background;
        refineAll(&prior, &priorBackground);
    }
    return refined;
}

namespace {

void AppendFlagNames(std::string& text, std::uint32_t flags) {
    bool first = true;
    auto add = [&](std::uint32_t flag, const char* name) {
        if ((flags & flag) == 0)
            return;
        if (!first)
            text += '|';
        text += name;
        first = false;
    };
    add(kRefineBorder, "border");
    add(kRefineNeighbour, "neighbour");
    add(kRefineNone, "unrefined");
}

template <class T> void AppendInteger(std::string& text, T value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    text.append(buffer, end);
}

// The table's lines of points first … last − 1.
void AppendTableLines(std::string& text, const TUniquePoints& points,
                      const std::vector<TRefinedPoint>& refined, std::size_t first,
                      std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
        const TUniquePoint& point = points.Entries[i];
        const TRefinedPoint& r = refined[i];
        AppendInteger(text, point.Code);
        text += ',';
        AppendInteger(text, (std::int64_t(point.Code) - 1) / 2);
        for (double v : {point.X, point.Y}) {
            text += ',';
            AppendFixed(text, v, 4);
        }
        text += ',';
        AppendInteger(text, point.PixelCount);
        for (double v : {r.X, r.Y}) {
            text += ',';
            AppendFixed(text, v, 4);
        }
        text += ',';
        AppendInteger(text, r.BlobPixels);
        text += ',';
        AppendInteger(text, r.StrayPixels);
        text += ',';
        AppendInteger(text, r.Contrast);
        text += ',';
        AppendFixed(text, r.Radius, 4);
        text += ',';
        AppendFlagNames(text, r.Flags);
        text += '\n';
    }
}

} // namespace

std::string RefineFlagNames(std::uint32_t flags) {
    std::string names;
    AppendFlagNames(names, flags);
    return names;
}

std::string PointTableText(const TUniquePoints& points, const std::vector<TRefinedPoint>& refined,
                           int threads) {
    std::string text = std::string(kPointTableHeader) + '\n';
    const std::size_t count = std::min(std::size_t(std::max(0, points.EntryCount)), refined.size());
    // Bands of lines made on the threads, then joined in order.
    constexpr std::size_t kLinesPerBand = 2048;
    const auto bands = std::int32_t((count + kLinesPerBand - 1) / kLinesPerBand);
    std::vector<std::string> parts(std::size_t(std::max(bands, 1)));
    ForEachIndex(bands, ThreadsFor(threads), [&](std::int32_t band) {
        const std::size_t first = std::size_t(band) * kLinesPerBand;
        const std::size_t last = std::min(count, first + kLinesPerBand);
        std::string& part = parts[std::size_t(band)];
        part.reserve((last - first) * 96);
        AppendTableLines(part, points, refined, first, last);
    });
    std::size_t size = text.size();
    for (const std::string& part : parts)
        size += part.size();
    text.reserve(size);
    for (const std::string& part : parts)
        text += part;
    return text;
}
