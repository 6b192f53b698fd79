#pragma once
// What the parts of the report page share: the marks' classes and colours, the
// numbers as the page writes them, the histograms' plots and the page's style and
// script.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace report_detail {

// The colours of the marks. A point takes the first of unrefined, neighbour, border
// that its flags hold; Plain marks every point of a pose without refinement.
enum TMarkClass : std::uint8_t { kMarkOk, kMarkBorder, kMarkNeighbour, kMarkUnrefined, kMarkPlain };
inline constexpr int kMarkClasses = 5;
// Added to the class of a point of one or two pixels, drawn as a square.
inline constexpr std::uint8_t kMarkSmall = 8;

struct TMarkStyle {
    const char* Name;
    const char* Colour;
    const char* Meaning;
};
inline constexpr std::array<TMarkStyle, kMarkClasses> kMarkStyles = {{
    {"ok", "#38d178", "refined, no flag"},
    {"border", "#4aa3ff", "its window is cut by the picture border"},
    {"neighbour", "#ffb020", "another point's main blob lies inside its window"},
    {"unrefined", "#ff4f6e", "no refinement possible: the plain centre is kept"},
    {"points", "#3fd4e6", "plain centres (not refined)"},
}};

/// A whole number as the page writes it.
inline std::string Number(std::int64_t value) {
    return std::to_string(value);
}

/// The values of one histogram and how its plot names them.
struct THistogram {
    std::string Title;          // above the plot
    std::string Axis;           // below the x axis
    std::string Unit;           // after a range in a bar's tooltip
    std::vector<double> Values; // none negative
    bool Whole = true;          // whole numbers
    double Top = -1;            // ≥ 0: the range always reaches this value
};

/// A histogram as an inline SVG plot: bars of counts, with the bars' ranges and counts as
/// tooltips, the range of the values below and the highest count beside.
std::string HistogramSvg(THistogram histogram);

/// The page's style sheet, as a <style> element.
std::string_view PageStyle();

/// The page's script, as a <script> element: it decodes each section's picture, draws
/// the marks over it and opens the magnified view; when done it sets the body's
/// data-report.
std::string PageScript();

} // namespace report_detail
