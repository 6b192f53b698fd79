// Picture sets: a header text file naming one raw plane file per plane, and the
// plane files themselves, each holding its plane's bytes column by column.
//
// Header, every line ended by CR LF:
//   1  title (not read back)
//   2  width of plane 0 (read back as the width of every plane)
//   3  height of plane 0 (read back as the height of every plane)
//   4  a rule of hyphens (not read back)
//   5… one plane file name per plane
// The layout is shared with files written by other programs and must not change.

#include "PicSet.h"

#include "Errors.h"
#include "FileUtil.h"
#include "Limits.h"
#include "Memory.h"
#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kTitle =
    "Kelvaron bin file : 0, 1, points, 14x code pics (width, height)";
constexpr std::string_view kRule =
    "---------------------------------------------------------------";
constexpr std::string_view kLineEnd = "\r\n";

// Lines of the header before the plane file names; line numbers count from 1.
constexpr std::size_t kHeaderLines = 4;
constexpr std::size_t kWidthLine = 2;
constexpr std::size_t kHeightLine = 3;
constexpr std::size_t kMaxHeaderLines = kHeaderLines + std::size_t(kMaxPlanes);

// Plane bytes go to disk in pieces of about this size.
constexpr std::size_t kWriteChunkBytes = std::size_t(1) << 20;

// Side of the square blocks in which planes are turned between row order and
// column order, so that both sides of the copy stay in the cache.
constexpr std::int32_t kTile = 64;

// An error's message as the end of a sentence.
std::string Sentence(const char* message) {
    std::string text = message;
    if (text.empty() || text.back() != '.')
        text += '.';
    return text;
}

// A line as it may appear inside a message: long lines are cut short.
std::string Excerpt(const std::string& line) {
    constexpr std::size_t kMaxShown = 40;
    return line.size() <= kMaxShown ? QuotedName(line)
                                    : QuotedName(line.substr(0, kMaxShown)) + "...";
}

// The number of bytes the plane's Width and Height call for. Raises
// std::invalid_argument when they do not match the plane's data (a plane whose
// fields were changed by hand), since reading or writing would leave its memory.
std::size_t CheckedPlaneBytes(const TPic& plane) {
    if (plane.Width >= 0 && plane.Height >= 0) {
        std::size_t bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
        if (bytes == plane.Data.size())
            return bytes;
    }
    throw std::invalid_argument("a plane of " + SizeText(plane.Width, plane.Height) +
                                " pixels holds " + std::to_string(plane.Data.size()) +
                                " bytes of data");
}

// Copies columns [first, last) of the plane into out, column by column:
// out[(column − first) × Height + row] = Data[row][column].
void ColumnsToBuffer(const TPic& plane, std::int32_t first, std::int32_t last, std::uint8_t* out) {
    const auto height = std::size_t(plane.Height);
    for (std::int32_t row0 = 0; row0 < plane.Height; row0 += kTile) {
        const std::int32_t row1 = std::min(plane.Height, row0 + kTile);
        for (std::int32_t column = first; column < last; ++column) {
            std::uint8_t* target = out + std::size_t(column - first) * height;
            for (std::int32_t row = row0; row < row1; ++row)
                target[row] = plane.Data[row][column];
        }
    }
}

// Stores the first count bytes of column-ordered data into the plane: byte
// column × Height + row goes to Data[row][column]. count ≤ Width × Height.
void BufferToPlane(const std::uint8_t* in, std::size_t count, TPic& plane) {
    if (plane.Height == 0)
        return;
    const auto height = std::size_t(plane.Height);
    const auto fullColumns = static_cast<std::int32_t>(count / height);
    for (std::int32_t row0 = 0; row0 < plane.Height; row0 += kTile) {
        const std::int32_t row1 = std::min(plane.Height, row0 + kTile);
        for (std::int32_t column = 0; column < fullColumns; ++column) {
            const std::uint8_t* source = in + std::size_t(column) * height;
            for (std::int32_t row = row0; row < row1; ++row)
                plane.Data[row][column] = source[row];
        }
    }
    // The part of the next column that the data still covers.
    const auto rest = static_cast<std::int32_t>(count % height);
    const std::uint8_t* source = in + std::size_t(fullColumns) * height;
    for (std::int32_t row = 0; row < rest; ++row)
        plane.Data[row][fullColumns] = source[row];
}

// Writes the plane's bytes column by column; the plane's size has been checked.
void WritePlane(const TPic& plane, TAtomicFile& file) {
    if (plane.Width <= 0 || plane.Height <= 0)
        return;
    // Whole columns at a time, at least one however tall it is.
    const auto height = std::size_t(plane.Height);
    const auto columnsPerChunk =
        static_cast<std::int32_t>(std::max<std::size_t>(1, kWriteChunkBytes / height));
    std::vector<std::uint8_t> chunk(std::size_t(std::min(columnsPerChunk, plane.Width)) * height);
    for (std::int32_t first = 0; first < plane.Width; first += columnsPerChunk) {
        const std::int32_t last = std::min(plane.Width, first + columnsPerChunk);
        ColumnsToBuffer(plane, first, last, chunk.data());
        file.Write(chunk.data(), std::size_t(last - first) * height);
    }
}

// File name of plane index as the header lists it and as it is written:
// folder of the header, index, "_", header's file name with the extension ".bin".
std::string PlaneFileName(const std::string& headerFileName, std::size_t index) {
    return ExtractFilePath(headerFileName) + std::to_string(index) + "_" +
           ChangeFileExt(ExtractFileName(headerFileName), ".bin");
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

// The body of LoadPicSet; raises on errors that LoadPicSet turns into its reason.
// Returns false with error set for a header that cannot be used.
// sources (the stack's own) receives the files the planes come from once the
// planes are replaced, whatever becomes of the load after that.
bool LoadPicSetOrThrow(TPics& pics, const std::string& headerFileName,
                       const std::string& baseFolder, std::string& error,
                       std::vector<std::string>& sources) {
    const std::string header = "the picture-set header " + QuotedName(headerFileName);

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
    const std::vector<std::string> lines = SplitLines(text);

    // Everything the header says is checked before the stack is touched.
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!ParseSize(lines, kWidthLine, "width", headerFileName, width, error) ||
        !ParseSize(lines, kHeightLine, "height", headerFileName, height, error))
        return false;
    if (!IsPictureSize(width, height)) {
        error = "The picture-set header " + QuotedName(headerFileName) + " gives planes of " +
                SizeText(width, height) + " pixels (lines 2 and 3); a plane may have at most " +
                std::to_string(kMaxPlanePixels) + " pixels.";
        return false;
    }

    const auto count = static_cast<std::int32_t>(lines.size() - kHeaderLines);
    if (count == 0) {
        pics.SetCount(0, 0, 0);
        error = "The picture-set header " + QuotedName(headerFileName) +
                " names no plane file; the stack is now empty.";
        return false;
    }

    for (std::int32_t i = 0; i < count; ++i) {
        const std::string& name = lines[kHeaderLines + std::size_t(i)];
        if (IsTemporaryFileName(name)) {
            error = "Plane " + std::to_string(i) + " of the picture set (line " +
                    std::to_string(kHeaderLines + std::size_t(i) + 1) + " of " + header +
                    ") is the temporary file " + QuotedName(name) +
                    " of an unfinished save; it is never loaded.";
            return false;
        }
    }
    const std::string memory = StackMemoryProblem(
        std::vector<TPictureSize>(std::size_t(count), TPictureSize{width, height}));
    if (!memory.empty()) {
        error = memory;
        return false;
    }
    try {
        pics.SetCount(count, width, height);
    } catch (const std::bad_alloc&) {
        error = "There is not enough memory for the " + std::to_string(count) + " planes of " +
                SizeText(width, height) + " pixels that " + header + " names.";
        return false;
    }
    sources.push_back(headerFileName);
    for (std::int32_t i = 0; i < count; ++i)
        sources.push_back(ResolveFileName(lines[kHeaderLines + std::size_t(i)], baseFolder));

    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t lineNumber = kHeaderLines + std::size_t(i) + 1;
        const std::string& name = lines[lineNumber - 1];
        const std::string where = "Plane " + std::to_string(i) + " of the picture set (line " +
                                  std::to_string(lineNumber) + " of " + header + ")";
        if (name.empty()) {
            error = where + " could not be loaded: the line names no file.";
            return false;
        }
        try {
            LoadPlane(pics.Planes[std::size_t(i)], ResolveFileName(name, baseFolder));
        } catch (const EFileError& e) {
            error = where + " could not be loaded: " + Sentence(e.what());
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::string> PicSetFileNames(const std::string& headerFileName, std::size_t planes) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < planes; ++i)
        names.push_back(PlaneFileName(headerFileName, i));
    names.push_back(headerFileName);
    return names;
}

void SavePlane(const TPic& plane, const std::string& fileName) {
    CheckedPlaneBytes(plane);
    TAtomicFile file(fileName);
    WritePlane(plane, file);
    file.Commit();
}

void LoadPlane(TPic& plane, const std::string& fileName) {
    const std::size_t needed = CheckedPlaneBytes(plane);
    // Only the bytes the plane takes are read: a longer file is fine, and a huge
    // one costs no more than the plane.
    const std::vector<std::uint8_t> bytes = ReadFilePrefix(fileName, needed);
    BufferToPlane(bytes.data(), bytes.size(), plane);
    if (bytes.size() < needed)
        throw EFileError("Cannot read " + QuotedName(fileName) + ": it holds " +
                         std::to_string(bytes.size()) + " bytes, but a plane of " +
                         SizeText(plane.Width, plane.Height) + " pixels needs " +
                         std::to_string(needed) + ".");
}

void SavePicSet(const TPics& pics, const std::string& headerFileName, bool namesOnly) {
    if (pics.Planes.empty())
        throw std::invalid_argument("There are no pictures to save.");
    // Every plane is checked before anything is written.
    for (const TPic& plane : pics.Planes)
        CheckedPlaneBytes(plane);

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

    const std::vector<std::string> outputs = PicSetFileNames(headerFileName, pics.Planes.size());
    const std::string clash = OverwrittenInputText(outputs, pics.SourceFiles());
    if (!clash.empty())
        throw std::invalid_argument(clash);

    // Every file is written and flushed before any is put in place; the header goes
    // last, so that a save cut short leaves the former set or no loadable set.
    TAtomicFileSet set;
    for (std::size_t i = 0; i < pics.Planes.size(); ++i)
        WritePlane(pics.Planes[i], set.Add(outputs[i]));
    set.Add(headerFileName).Write(text);
    set.Commit();
}

bool LoadPicSet(TPics& pics, const std::string& headerFileName, const std::string& baseFolder) {
    // Nothing may escape: every failure becomes false with its reason. Building
    // the reason can itself run out of memory; a short fixed text then stands in,
    // short enough to fit a string's own storage without allocating.
    auto fail = [&pics](auto reason) noexcept {
        try {
            pics.lastError_ = reason();
        } catch (...) {
            pics.lastError_ = "Out of memory.";
        }
        return false;
    };
    const auto couldNotLoad = [&headerFileName](const std::string& why) {
        return "The picture set " + QuotedName(headerFileName) + " could not be loaded: " + why;
    };
    try {
        pics.lastError_.clear();
        std::string error;
        if (LoadPicSetOrThrow(pics, headerFileName, baseFolder, error, pics.sources_))
            return true;
        pics.lastError_ = std::move(error);
        return false;
    } catch (const std::bad_alloc&) {
        return fail([&] {
            return "There is not enough memory to load the picture set " +
                   QuotedName(headerFileName) + ".";
        });
    } catch (const std::exception& e) {
        return fail([&] { return couldNotLoad(Sentence(e.what())); });
    } catch (...) {
        return fail([&] { return couldNotLoad("an unexpected error occurred."); });
    }
}
