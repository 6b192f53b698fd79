// Picture sets: a header text file naming one raw plane file per plane, and the
// plane files themselves, each holding its plane's bytes column by column. Here
// the sets and single plane files are loaded and saved; the header's text is in
// PicSetHeader, the plane files' layout in PlaneColumns, their banded reading in
// PlaneFileReader.

#include "input/PicSet.h"

#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/PicSetHeader.h"
#include "input/PlaneColumns.h"
#include "input/PlaneFileReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace picset_detail;

namespace {

// An error's message as the end of a sentence.
std::string Sentence(const char* message) {
    std::string text = message;
    if (text.empty() || text.back() != '.')
        text += '.';
    return text;
}

// The body of LoadPicSet; raises on errors that LoadPicSet turns into its reason.
// Returns false with error set for a header that cannot be used.
// sources (the stack's own) receives the files the planes come from once the
// planes are replaced, whatever becomes of the load after that.
bool LoadPicSetOrThrow(TPics& pics, const std::string& headerFileName, const TLoadOptions& options,
                       std::string& error, std::vector<std::string>& sources) {
    const std::string header = "the picture-set header " + QuotedName(headerFileName);
    const std::string& baseFolder = options.BaseFolder;

    // Everything the header says is checked before the stack is touched.
    std::vector<std::string> lines;
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!ReadHeaderLines(headerFileName, lines, width, height, error))
        return false;

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

    auto where = [&](std::int32_t i) {
        const std::size_t lineNumber = kHeaderLines + std::size_t(i) + 1;
        return "Plane " + std::to_string(i) + " of the picture set (line " +
               std::to_string(lineNumber) + " of " + header + ")";
    };
    // The planes are read in order up to the first line that names no file: the
    // load ends there at the latest.
    std::int32_t named = 0;
    while (named < count && !lines[kHeaderLines + std::size_t(named)].empty())
        ++named;
    std::vector<TPlaneRead> reads(static_cast<std::size_t>(named));
    for (std::int32_t i = 0; i < named; ++i)
        reads[std::size_t(i)].Prepare(
            pics.Planes[std::size_t(i)],
            ResolveFileName(lines[kHeaderLines + std::size_t(i)], baseFolder));
    const TReadFailure failure =
        ReadPlanes(reads, ThreadsFor(options.Threads), options.Progress, options.Idle);
    if (failure.Error) {
        try {
            std::rethrow_exception(failure.Error);
        } catch (const EFileError& e) {
            error = where(failure.Plane) + " could not be loaded: " + Sentence(e.what());
            return false;
        }
    }
    if (named < count) {
        error = where(named) + " could not be loaded: the line names no file.";
        return false;
    }
    return true;
}

} // namespace

void SavePlane(const TPic& plane, const std::string& fileName) {
    CheckedPlaneBytes(plane);
    TAtomicFile file(fileName);
    WritePlane(plane, file);
    file.Commit();
}

void LoadPlane(TPic& plane, const std::string& fileName) {
    const std::size_t needed = CheckedPlaneBytes(plane);
    std::vector<TPlaneRead> reads(1);
    TPlaneRead& read = reads.front();
    read.File.emplace(fileName);
    read.Opened = true;
    read.Available = std::min(needed, read.File->Size());
    // The file is read into a plane of its own: one that cannot be read leaves this
    // plane as it was, one that is too short gives it only the bytes it holds.
    TPic fresh;
    try {
        fresh.SetSize(plane.Width, plane.Height);
    } catch (const std::bad_alloc&) {
        RaiseFileError("read", fileName,
                       "not enough memory for " + std::to_string(read.Available) + " bytes");
    }
    read.Prepare(fresh, fileName);
    const TReadFailure failure = ReadPlanes(reads, AllCores(), {}, {});
    if (!failure.Error) {
        plane.Data = std::move(fresh.Data);
        return;
    }
    if (failure.Stored > 0) {
        const auto height = std::size_t(plane.Height);
        for (std::int32_t row = 0; row < plane.Height; ++row) {
            const std::size_t columns =
                failure.Stored / height + (std::size_t(row) < failure.Stored % height ? 1 : 0);
            std::memcpy(plane.Data[row], fresh.Data[row], columns);
        }
    }
    std::rethrow_exception(failure.Error);
}

void SavePicSet(const TPics& pics, const std::string& headerFileName, bool namesOnly) {
    if (pics.Planes.empty())
        throw std::invalid_argument("There are no pictures to save.");
    // Every plane is checked before anything is written.
    for (const TPic& plane : pics.Planes)
        CheckedPlaneBytes(plane);

    const std::string text = PicSetHeaderText(pics, headerFileName, namesOnly);

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
    TLoadOptions options;
    options.BaseFolder = baseFolder;
    return LoadPicSet(pics, headerFileName, options);
}

bool LoadPicSet(TPics& pics, const std::string& headerFileName, const TLoadOptions& options) {
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
        if (LoadPicSetOrThrow(pics, headerFileName, options, error, pics.sources_))
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
