#pragma once
// The report page: one self-contained HTML file to look at the results of one or
// many evaluated stacks ("poses") in a browser, without a network.
//
// The page holds a summary table of the poses and, for each pose that was
// evaluated, a section: picture 2 (all dots lit) scaled down and embedded as a
// JPEG data: URI, every point marked over it by the page's own small script from
// the points' data packed into the section, a legend and four histograms (inline
// SVG). Clicking the picture opens it magnified around the point clicked. The
// script tells a browser test that it is done through the body's data-report
// attribute: "ready N" once every mark is drawn and N pictures have decoded, or
// "error: <message>".

#include "files/AtomicFile.h"
#include "image/Plane.h"
#include "decode/Points.h"
#include "refine/Refine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

/// One pose's row of a report's summary table.
struct TReportRow {
    std::string Pose;                ///< the pose's name
    std::string Input;               ///< its input file as given
    std::string Status;              ///< "ok", "kept" or "failed"
    std::string Message;             ///< why it failed; empty otherwise
    std::int32_t Points = 0;         ///< points found
    std::int32_t Flagged = -1;       ///< points with any flag; -1: not known
    int MinDif = -1, Tolerance = -1; ///< the settings used; -1: not known (a failed pose)
    double Seconds = 0;              ///< how long the pose took
};

/// The longest side, in pixels, of the picture a section embeds: a larger plane is
/// scaled down by a whole factor (ReportPictureStep).
inline constexpr std::int32_t kReportPictureMax = 2400;
/// The widest a section shows its picture, in CSS pixels.
inline constexpr std::int32_t kReportShownMax = 1600;

/// The section of one evaluated pose, as HTML text independent of any other section
/// (no ids, so sections of several pages can be put together on one page): picture 2
/// (`lit`) scaled down by ReportPictureStep and shown at most kReportShownMax pixels
/// wide, every point of `points` (entries 0 … EntryCount − 1, their plain centres
/// computed) marked over it, coloured by the flags of refined[i] (none: ok) and points
/// of one or two pixels drawn as squares instead of rings; histograms of the points'
/// contrast, main-blob size, stray pixels and of how far refinement moved the centres;
/// a legend with the number of points of each colour. Clicking the picture opens it
/// magnified (at least one screen pixel per pixel of the stack) around the point
/// clicked, marks included; Escape or a click closes it. `refined` may be empty: the
/// marks then have one colour and the refinement's histograms are left out; otherwise
/// it holds one entry per point (std::invalid_argument otherwise). threads: how many
/// threads may share the scaling (0: all cores).
std::string ReportSection(const std::string& pose, const TPic& lit, const TUniquePoints& points,
                          const std::vector<TRefinedPoint>& refined, int threads = 1);

/// Writes a whole page atomically under fileName (TAtomicFile): the title, the summary
/// table of rows (failed poses first, then the others, each group in the order of
/// rows; columns pose, input, status, points, flagged, mindif, tolerance, seconds,
/// message), then for each row in the order of rows the text section(i) gives (empty:
/// none, as for a failed pose) between the markers ReportSectionOf looks for, and the
/// page's script. section is called once per row, in order, and its text is written
/// before the next is asked for, so that the page is never held in memory. Raises
/// EFileError when the file cannot be written, and passes on what section raises (the
/// former file then stays as it was).
void WriteReport(const std::string& fileName, const std::string& title,
                 const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section);

/// WriteReport into file, which the caller puts in place (alone or with a set).
void WriteReport(TAtomicFile& file, const std::string& title, const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section);

/// The first section of a page WriteReport wrote (the text ReportSection gave, exactly),
/// found between the markers the page puts around each section; empty when the text
/// holds none.
std::string ReportSectionOf(std::string_view pageText);

/// text as HTML text or attribute value: & < > " ' become character references, bytes
/// that are not UTF-8 and control characters other than tab and line feed become
/// U+FFFD, so that a name holding anything shows as text.
std::string EscapeHtml(std::string_view text);

/// The bytes in base64 (RFC 4648, with padding).
std::string Base64Text(const void* data, std::size_t size);

/// The side of the square of plane pixels a pixel of a section's picture averages: the
/// smallest whole factor that brings both sides to at most kReportPictureMax.
std::int32_t ReportPictureStep(std::int32_t width, std::int32_t height);

/// plane scaled down by step (≥ 1, std::invalid_argument otherwise): each pixel the
/// rounded mean of a step × step square of plane pixels, the squares of the last row
/// and column cut by the border averaging the pixels they hold; ⌈width / step⌉ ×
/// ⌈height / step⌉ pixels. threads: how many threads may share the rows (0: all cores);
/// the result does not depend on it.
TPic ScalePlaneDown(const TPic& plane, std::int32_t step, int threads = 1);
