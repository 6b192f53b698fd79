// The histograms of the report page as inline SVG plots.

#include "base/Format.h"
#include "output/Report.h"
#include "output/ReportDetail.h"

#include <algorithm>
#include <cmath>

namespace report_detail {

namespace {

// A coordinate of a plot, to a tenth of a pixel.
std::string Px(double value) {
    return FormatFixed(value, value == std::floor(value) ? 0 : 1);
}

// A value of a histogram's axis: whole numbers bare, others with the decimals of step.
std::string AxisValue(double value, double step, bool whole) {
    if (whole)
        return Number(std::llround(value));
    int decimals = 0;
    for (double scaled = step; decimals < 3 && std::fabs(scaled - std::round(scaled)) > 1e-9;
         scaled *= 10)
        ++decimals;
    return FormatFixed(value, decimals);
}

// The smallest of 1, 2, 2.5, 5 times a power of ten that is at least least; a whole
// number when whole.
double NiceStep(double least, bool whole) {
    if (!(least > 0))
        return whole ? 1 : 0.01;
    double power = std::pow(10.0, std::floor(std::log10(least)));
    for (;;) {
        for (double factor : {1.0, 2.0, 2.5, 5.0}) {
            const double step = factor * power;
            if (whole && (step < 1 || step != std::floor(step)))
                continue;
            if (step >= least * (1 - 1e-12))
                return step;
        }
        power *= 10;
    }
}

constexpr int kMaxBins = 32;

} // namespace

std::string HistogramSvg(THistogram histogram) {
    constexpr double kWidth = 300, kHeight = 178;
    constexpr double kLeft = 44, kRight = 292, kTop = 30, kBottom = 142;
    std::string svg;
    svg += "<svg class=\"plot\" width=\"300\" height=\"178\" viewBox=\"0 0 300 178\" role=\"img\" "
           "aria-label=\"";
    svg += EscapeHtml(histogram.Title);
    svg += "\"><text class=\"title\" x=\"0\" y=\"14\">";
    svg += EscapeHtml(histogram.Title);
    svg += "</text>";
    std::vector<double>& values = histogram.Values;
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    const auto axisLine = [&] {
        svg += "<line class=\"axis\" x1=\"" + Px(kLeft) + "\" y1=\"" + Px(kBottom) + "\" x2=\"" +
               Px(kRight) + "\" y2=\"" + Px(kBottom) + "\"/>";
        svg += "<text class=\"label\" x=\"" + FormatFixed((kLeft + kRight) / 2, 0) + "\" y=\"" +
               Px(kHeight - 4) + "\" text-anchor=\"middle\">" + EscapeHtml(histogram.Axis) +
               "</text>";
    };
    if (values.empty()) {
        svg += "<text class=\"note\" x=\"" + FormatFixed((kLeft + kRight) / 2, 0) + "\" y=\"" +
               FormatFixed((kTop + kBottom) / 2, 0) + "\" text-anchor=\"middle\">no points</text>";
        axisLine();
        svg += "</svg>";
        return svg;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const bool whole = histogram.Whole;
    // The range: up to the largest value, unless a few far ones would squeeze the rest
    // into a bar or two; those then go to one bar of their own at the right.
    const double highest = values.back();
    const double usual = values[static_cast<std::size_t>(std::floor(0.995 * double(n - 1)))];
    double cap = highest;
    if (highest > 1.5 * usual && !(whole && highest < kMaxBins))
        cap = usual;
    cap = std::max({cap, histogram.Top, whole ? 4.0 : 0.0});
    const double step = NiceStep(whole ? (cap + 1) / kMaxBins : cap / kMaxBins, whole);
    // Whole numbers: bin k holds k · step … (k + 1) · step − 1; others: k · step up to
    // (k + 1) · step, the last bin's end included.
    const int bins = whole ? static_cast<int>(std::floor(cap / step)) + 1
                           : std::max(1, static_cast<int>(std::ceil(cap / step - 1e-9)));
    const double end = bins * step; // the values beyond go to the extra bar
    const auto beyond = [&](double v) { return whole ? v >= end : v > end; };
    std::vector<std::size_t> counts(std::size_t(bins) + 1, 0);
    for (double v : values) {
        if (beyond(v))
            ++counts[std::size_t(bins)];
        else
            ++counts[std::min(std::size_t(bins) - 1, static_cast<std::size_t>(v / step))];
    }
    const bool extra = counts.back() > 0;
    if (!extra)
        counts.pop_back();
    const std::size_t most = *std::max_element(counts.begin(), counts.end());

    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    svg += "<text class=\"note\" x=\"" + Px(kWidth) + "\" y=\"14\" text-anchor=\"end\">median ";
    svg += whole && median == std::floor(median) ? Number(std::llround(median))
                                                 : FormatFixed(median, whole || step >= 1 ? 1 : 2);
    svg += " · " + Number(std::int64_t(n)) + (n == 1 ? " point" : " points") + "</text>";

    // The highest count and 0 on the y axis, with a faint line at the highest.
    svg += "<line class=\"grid\" x1=\"" + Px(kLeft) + "\" y1=\"" + Px(kTop) + "\" x2=\"" +
           Px(kRight) + "\" y2=\"" + Px(kTop) + "\"/>";
    svg += "<text class=\"label\" x=\"" + Px(kLeft - 5) + "\" y=\"" + Px(kTop + 4) +
           "\" text-anchor=\"end\">" + Number(std::int64_t(most)) + "</text>";
    svg += "<text class=\"label\" x=\"" + Px(kLeft - 5) + "\" y=\"" + Px(kBottom + 4) +
           "\" text-anchor=\"end\">0</text>";

    const double barWidth = (kRight - kLeft) / double(counts.size());
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const double height = most ? (kBottom - kTop) * double(counts[k]) / double(most) : 0;
        const bool extraBar = k == std::size_t(bins);
        std::string range;
        if (extraBar)
            range = std::string(whole ? "≥ " : "> ") + AxisValue(end, step, whole);
        else if (whole && step == 1)
            range = AxisValue(double(k), step, whole);
        else
            range = AxisValue(double(k) * step, step, whole) + "–" +
                    AxisValue(whole ? double(k + 1) * step - 1 : double(k + 1) * step, step, whole);
        svg += "<rect class=\"";
        svg += extraBar ? "bar beyond" : "bar";
        svg += "\" x=\"" + FormatFixed(kLeft + double(k) * barWidth + 0.5, 2) + "\" y=\"" +
               FormatFixed(kBottom - height, 2) + "\" width=\"" +
               FormatFixed(std::max(0.5, barWidth - 1), 2) + "\" height=\"" +
               FormatFixed(height, 2) + "\"><title>" + EscapeHtml(range);
        if (!histogram.Unit.empty())
            svg += " " + EscapeHtml(histogram.Unit);
        svg += ": " + Number(std::int64_t(counts[k])) + "</title></rect>";
    }
    axisLine();
    // Ticks at the bins' edges: the first, the middle one and the last.
    const auto tick = [&](int edge) {
        const double x = kLeft + double(edge) * barWidth;
        svg += "<text class=\"label\" x=\"" + FormatFixed(x, 1) + "\" y=\"" + Px(kBottom + 14) +
               "\" text-anchor=\"middle\">" + AxisValue(double(edge) * step, step, whole) +
               "</text>";
    };
    tick(0);
    if (bins >= 4)
        tick(bins / 2);
    if (extra) // the bar of the values beyond, at the right
        svg += "<text class=\"label\" x=\"" + Px(kRight) + "\" y=\"" + Px(kBottom + 14) +
               "\" text-anchor=\"end\">" + std::string(whole ? "≥ " : "> ") +
               AxisValue(end, step, whole) + "</text>";
    else
        tick(bins);
    svg += "</svg>";
    return svg;
}

} // namespace report_detail
