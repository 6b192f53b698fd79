// The picture-set header's text, read and written, and the names of the plane
// files it lists.
//
// Header, every line ended by CR LF:
//   1  title (not read back)
//   2  width of plane 0 (read back as the width of every plane)
//   3  height of plane 0 (read back as the height of every plane)
//   4  a rule of hyphens (not read back)
//   5… one plane file name per plane
// The layout is shared with files written by other programs and must not change.

#include "input/PicSetHeader.h"

#include "base/Limits.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/PicSet.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using picset_detail::kHeaderLines;
using picset_detail::PlaneFileName;
using picset_detail::ReadHeaderLines;

namespace {

constexpr std::string_view kTitle =
    "Kelvaron bin file : 0, 1, points, 14x code pics (width, height)";
constexpr std::string_view kRule =
    "---------------------------------------------------------------";
constexpr std::string_view kLineEnd = "\r\n";

// Line numbers count from 1.
constexpr std::size_t kWidthLine = 2;
constexpr std::size_t kHeightLine = 3;
constexpr std::size_t kMaxHeaderLines = kHeaderLines + std::size_t(kMaxPlanes);

// A line as it may appear inside a message: long lines are cut short.
std::string Excerpt(const std::string& line) {
    constexpr std::size_t kMaxShown = 40;
    return line.size() <= kMaxShown ? QuotedName(line)
                                    : QuotedName(line.substr(0, kMaxShown)) + "...";
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads one size line of the header: decimal digits, optionally signed and
// surrounded by blanks (spaces, tabs). Anything else is no whole number; a
// number below 0 or above a plane's pixel limit is refused. On failure error
// says why.
bool ParseSize(const std::vector<std::string>& lines, std::size_t lineNumber, const char* what,
               const std::string& headerFileName, std::int32_t& value, std::string& error) {
    const std::string& line = lines[lineNumber - 1];
    const std::string where = "Line " + std::to_string(lineNumber) + " of the picture-set header " +
                              QuotedName(headerFileName);

    std::size_t pos = 0;
    std::size_t end = line.size();
    while (pos < end && IsBlank(line[pos]))
        ++pos;
    while (end > pos && IsBlank(line[end - 1]))
        --end;
    bool negative = false;
    if (pos < end && (line[pos] == '+' || line[pos] == '-')) {
        negative = line[pos] == '-';
        ++pos;
    }
    if (pos == end ||
        !std::all_of(line.begin() + std::ptrdiff_t(pos), line.begin() + std::ptrdiff_t(end),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        error = where + " should give the " + what +
                " of the planes as a whole number, but reads " + Excerpt(line) + ".";
        return false;
    }
    if (negative &&
        std::any_of(line.begin() + std::ptrdiff_t(pos), line.begin() + std::ptrdiff_t(end),
                    [](char c) { return c != '0'; })) {
        error = where + " gives a negative " + what + " (" + Excerpt(line) +
                "); a plane cannot be smaller than 0 pixels.";
        return false;
    }

    std::int64_t number = 0;
    for (std::size_t i = pos; i < end; ++i) {
        number = number * 10 + (line[i] - '0');
        if (number > kMaxPlanePixels) {
            error = where + " gives a " + what + " of " + Excerpt(line) +
                    ", more than a plane may have (" + std::to_string(kMaxPlanePixels) +
                    " pixels).";
            return false;
        }
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

} // namespace

namespace picset_detail {

std::string PlaneFileName(const std::string& headerFileName, std::size_t index) {
    return ExtractFilePath(headerFileName) + std::to_string(index) + "_" +
           ChangeFileExt(ExtractFileName(headerFileName), ".bin");
}

bool ReadHeaderLines(const std::string& headerFileName, std::vector<std::string>& lines,
                     std::int32_t& width, std::int32_t& height, std::string& error) {
    const TTextFile file(headerFileName);
    const std::string_view text = file.Text();
    const std::size_t lineCount = CountLines(text);
    if (lineCount < kHeaderLines) {
        error = "The picture-set header " + QuotedName(headerFileName) + " has " +
                std::to_string(lineCount) + (lineCount == 1 ? " line" : " lines") +
                "; it needs a title, the width, the height and a rule, then one plane file "
                "name per line.";
        return false;
    }
    if (lineCount > kMaxHeaderLines) {
        error = "The picture-set header " + QuotedName(headerFileName) + " names " +
                std::to_string(lineCount - kHeaderLines) + " plane files; a stack holds at most " +
                std::to_string(kMaxPlanes) + " planes.";
        return false;
    }
    lines = SplitLines(text);
    if (!ParseSize(lines, kWidthLine, "width", headerFileName, width, error) ||
        !ParseSize(lines, kHeightLine, "height", headerFileName, height, error))
        return false;
    if (!IsPictureSize(width, height)) {
        error = "The picture-set header " + QuotedName(headerFileName) + " gives planes of " +
                SizeText(width, height) + " pixels (lines 2 and 3); a plane may have at most " +
                std::to_string(kMaxPlanePixels) + " pixels.";
        return false;
    }
    return true;
}

std::string PicSetHeaderText(const TPics& pics, const std::string& headerFileName, bool namesOnly) {
    const TPic& first = pics.Planes.front();
    std::string text;
    text.append(kTitle).append(kLineEnd);
    text.append(std::to_string(first.Width)).append(kLineEnd);
    text.append(std::to_string(first.Height)).append(kLineEnd);
    text.append(kRule).append(kLineEnd);
    for (std::size_t i = 0; i < pics.Planes.size(); ++i) {
        const std::string fullName = PlaneFileName(headerFileName, i);
        const std::string listed = namesOnly ? ExtractFileName(fullName) : fullName;
        // A name with a line break would read back as two lines: the set would
        // be written but could never be loaded.
        if (listed.find_first_of("\r\n") != std::string::npos)
            throw std::invalid_argument("The picture-set header " + QuotedName(headerFileName) +
                                        " cannot list the plane file " + QuotedName(listed) +
                                        ": the name holds a line break.");
        text.append(listed).append(kLineEnd);
    }
    return text;
}

} // namespace picset_detail

bool ReadPicSetHeader(const std::string& headerFileName, const std::string& baseFolder,
                      TPicSetHeader& header, std::string& error) {
    try {
        std::vector<std::string> lines;
        if (!ReadHeaderLines(headerFileName, lines, header.Width, header.Height, error))
            return false;
        header.PlaneFiles.clear();
        for (std::size_t i = kHeaderLines; i < lines.size(); ++i) {
            if (lines[i].empty() || IsTemporaryFileName(lines[i])) {
                error = "Plane " + std::to_string(i - kHeaderLines) + " of the picture set " +
                        QuotedName(headerFileName) + " names no file that can be loaded.";
                return false;
            }
            header.PlaneFiles.push_back(ResolveFileName(lines[i], baseFolder));
        }
        if (!header.PlaneFiles.empty())
            return true;
        error = "The picture-set header " + QuotedName(headerFileName) + " names no plane file.";
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

std::vector<std::string> PicSetFileNames(const std::string& headerFileName, std::size_t planes) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < planes; ++i)
        names.push_back(PlaneFileName(headerFileName, i));
    names.push_back(headerFileName);
    return names;
}
