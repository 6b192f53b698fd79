// One pose's section of the report page: its facts, its picture with the points'
// data for the marks, the legend and the histograms.

#include "base/Format.h"
#include "output/JpegWriter.h"
#include "output/Report.h"
#include "output/ReportDetail.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

using namespace report_detail;

namespace {

constexpr int kJpegQuality = 85;
// Poses narrower than this are shown magnified by a whole factor.
constexpr std::int32_t kShownMin = 800;

std::uint8_t MarkClass(std::uint32_t flags) {
    if (flags & kRefineNone)
        return kMarkUnrefined;
    if (flags & kRefineNeighbour)
        return kMarkNeighbour;
    if (flags & kRefineBorder)
        return kMarkBorder;
    return kMarkOk;
}

bool IsSmall(const TUniquePoint& point) {
    return point.PixelCount <= 2;
}

// The points' data for the script, 7 bytes a point, little-endian: the plain centre's
// column and row in units of 1 / unit pixel (16 bits each), the pixel count (16 bits,
// at most 65535) and the mark class.
std::vector<std::uint8_t> PackPoints(const TUniquePoints& points,
                                     const std::vector<TRefinedPoint>& refined, double unit) {
    std::vector<std::uint8_t> bytes(std::size_t(points.EntryCount) * 7);
    const auto put16 = [](std::uint8_t* at, double value) {
        const auto v = static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
        at[0] = static_cast<std::uint8_t>(v & 0xFF);
        at[1] = static_cast<std::uint8_t>(v >> 8);
    };
    for (std::int32_t i = 0; i < points.EntryCount; ++i) {
        const TUniquePoint& point = points.Entries[std::size_t(i)];
        std::uint8_t* at = bytes.data() + std::size_t(i) * 7;
        put16(at, point.X * unit);
        put16(at + 2, point.Y * unit);
        put16(at + 4, double(point.PixelCount));
        std::uint8_t mark =
            refined.empty() ? std::uint8_t(kMarkPlain) : MarkClass(refined[std::size_t(i)].Flags);
        if (IsSmall(point))
            mark |= kMarkSmall;
        at[6] = mark;
    }
    return bytes;
}

// The finest unit, a power of two from 1/16 pixel on, at which every centre of a plane
// of this size fits 16 bits.
double CoordinateUnit(std::int32_t width, std::int32_t height) {
    const double largest = std::max({width, height, 1});
    double unit = 16;
    while (unit > 1.0 / 64 && largest * unit > 65535)
        unit /= 2;
    return unit;
}

std::string LegendItem(const char* shape, const char* colour, const std::string& name,
                       std::int64_t count, const std::string& meaning) {
    std::string item = "<li title=\"" + EscapeHtml(meaning) + "\"><span class=\"swatch " + shape +
                       "\" style=\"border-color:" + colour + "\"></span>" + EscapeHtml(name) +
                       " <b>" + Number(count) + "</b></li>";
    return item;
}

} // namespace

std::string ReportSection(const std::string& pose, const TPic& lit, const TUniquePoints& points,
                          const std::vector<TRefinedPoint>& refined, int threads) {
    const std::int32_t count = std::max(points.EntryCount, std::int32_t(0));
    if (!refined.empty() && refined.size() != std::size_t(count))
        throw std::invalid_argument("the report of " + pose + " has " +
                                    std::to_string(refined.size()) + " refined points for " +
                                    std::to_string(count) + " points");
    const std::string name = EscapeHtml(pose);

    std::array<std::int64_t, kMarkClasses> marks{};
    std::int64_t small = 0, flagged = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(i);
        if (refined.empty())
            ++marks[kMarkPlain];
        else {
            ++marks[MarkClass(refined[at].Flags)];
            flagged += refined[at].Flags != 0;
        }
        small += IsSmall(points.Entries[at]);
    }

    const std::int32_t step = ReportPictureStep(lit.Width, lit.Height);
    const double unit = CoordinateUnit(lit.Width, lit.Height);
    const std::vector<std::uint8_t> packed = PackPoints(points, refined, unit);

    std::string html;
    html += "<section class=\"pose\" data-pose=\"" + name + "\" data-width=\"" + Number(lit.Width) +
            "\" data-height=\"" + Number(lit.Height) + "\" data-step=\"" + Number(step) +
            "\" data-unit=\"" + FormatFixed(unit, 6) + "\" data-points=\"";
    html += Base64Text(packed.data(), packed.size());
    html += "\">\n<h2>" + name + "</h2>\n<p class=\"facts\"><b>" + Number(count) + "</b> " +
            (count == 1 ? "point" : "points") + " · ";
    if (refined.empty())
        html += "not refined";
    else
        html += "<b>" + Number(flagged) + "</b> flagged";
    html += " · <b>" + Number(small) + "</b> of 1–2 pixels · " + Number(lit.Width) + " × " +
            Number(lit.Height) + " pixels</p>\n";

    if (lit.Width > 0 && lit.Height > 0) {
        const TPic picture = ScalePlaneDown(lit, step, threads);
        TJpegWriteOptions options;
        options.Quality = kJpegQuality;
        const std::vector<std::uint8_t> jpeg =
            EncodeJpeg(picture.Width, picture.Height, 1, picture.Data.data(), options);
        std::int32_t shown = std::min(lit.Width, kReportShownMax);
        if (lit.Width < kShownMin)
            shown = lit.Width * std::max(1, kShownMin / lit.Width);
        html += "<figure class=\"pic\" style=\"width:" + Number(shown) + "px\"><img class=\"lit";
        if (shown > picture.Width)
            html += " magnified";
        html += "\" width=\"" + Number(picture.Width) + "\" height=\"" + Number(picture.Height) +
                "\" alt=\"Picture 2 (all dots lit) of " + name + "\" src=\"data:image/jpeg;base64,";
        html += Base64Text(jpeg.data(), jpeg.size());
        html += "\"><canvas class=\"marks\"></canvas></figure>\n<p class=\"hint\">Picture 2, all "
                "dots lit";
        if (step > 1)
            html += ", at 1:" + Number(step);
        html += ". Click it for a closer look.</p>\n";
    } else
        html += "<p class=\"hint\">No picture.</p>\n";

    html += "<ul class=\"legend\">";
    const auto& styles = kMarkStyles;
    if (refined.empty())
        html += LegendItem("ring", styles[kMarkPlain].Colour, styles[kMarkPlain].Name,
                           marks[kMarkPlain], styles[kMarkPlain].Meaning);
    else
        for (int k : {kMarkOk, kMarkBorder, kMarkNeighbour, kMarkUnrefined})
            html += LegendItem("ring", styles[std::size_t(k)].Colour, styles[std::size_t(k)].Name,
                               marks[std::size_t(k)], styles[std::size_t(k)].Meaning);
    html += LegendItem("square", "#c9d1d9", "1–2 pixels (square)", small,
                       "points of one or two pixels, in the colour of their flags");
    html += "</ul>\n";

    std::array<THistogram, 4> plots;
    plots[0] = {"Contrast", "plane 2 − plane 0 in the main blob", "", {}, true, 255};
    plots[1] = {"Main blob", "pixels", "pixels", {}, true, -1};
    plots[2] = {"Stray pixels", "pixels outside the main blob", "pixels", {}, true, -1};
    plots[3] = {"Refinement shift", "refined − plain centre, pixels", "pixels", {}, false, -1};
    if (refined.empty()) {
        plots[0] = {"Point size", "pixels", "pixels", {}, true, -1};
        for (std::int32_t i = 0; i < count; ++i)
            plots[0].Values.push_back(points.Entries[std::size_t(i)].PixelCount);
    } else
        for (std::int32_t i = 0; i < count; ++i) {
            const TRefinedPoint& r = refined[std::size_t(i)];
            const TUniquePoint& p = points.Entries[std::size_t(i)];
            plots[0].Values.push_back(r.Contrast);
            plots[1].Values.push_back(r.BlobPixels);
            plots[2].Values.push_back(r.StrayPixels);
            if (!(r.Flags & kRefineNone))
                plots[3].Values.push_back(std::hypot(r.X - p.X, r.Y - p.Y));
        }
    html += "<div class=\"plots\">";
    for (std::size_t k = 0; k < (refined.empty() ? 1 : plots.size()); ++k)
        html += HistogramSvg(std::move(plots[k]));
    html += "</div>\n</section>\n";
    return html;
}
