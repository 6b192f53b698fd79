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

#include "input/PicSet.h"

#include "base/Errors.h"
#include "files/FileUtil.h"
#include "base/Limits.h"
#include "base/Memory.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "base/Transpose.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>
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

// Plane bytes move between a file and a plane in chunks of about kChunkBytes of
// whole columns; at least kChunkColumns of them while that stays within
// kMaxChunkBytes, so that every row of the plane takes whole cache lines at a
// time; a piece of a column where a single column is larger than kChunkBytes.
constexpr std::size_t kChunkBytes = std::size_t(512) << 10;
constexpr std::size_t kMaxChunkBytes = std::size_t(2) << 20;
constexpr std::size_t kChunkColumns = 64;

// A plane is read in bands of about this size, each by one thread, so that even a
// single large plane keeps every thread busy.
constexpr std::size_t kBandBytes = std::size_t(4) << 20;

// Plane bytes go to disk in pieces of about this size. Saving waits on the disk,
// not on turning the bytes around, so one thread does it.
constexpr std::size_t kWriteChunkBytes = std::size_t(1) << 20;

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

// The bytes of a chunk for planes of this height (see kChunkBytes).
std::size_t ChunkBytes(std::int32_t height) {
    const std::size_t columnBytes = std::max<std::size_t>(1, std::size_t(height));
    std::size_t columns = kChunkBytes / columnBytes;
    if (columns >= kChunkColumns)
        columns -= columns % kChunkColumns;
    else if (columnBytes * kChunkColumns <= kMaxChunkBytes)
        columns = kChunkColumns;
    return columns == 0 ? kChunkBytes : columns * columnBytes;
}

// Byte k of a plane file is row k % Height of column k / Height. Stores count such
// bytes of data, the first being byte `first`, into the plane.
void StoreColumnBytes(TPic& plane, std::size_t first, const std::uint8_t* data, std::size_t count) {
    if (count == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    std::uint8_t* const rows = plane.Data.data();
    std::size_t column = first / height;
    // The rest of a column begun by the bytes before.
    if (const std::size_t row = first % height; row != 0) {
        const std::size_t rest = std::min(count, height - row);
        for (std::size_t i = 0; i < rest; ++i)
            rows[(row + i) * width + column] = data[i];
        data += rest;
        count -= rest;
        ++column;
    }
    const std::size_t columns = count / height;
    TransposeBytes(data, height, columns, height, rows + column, width);
    data += columns * height;
    count -= columns * height;
    column += columns;
    // The start of a column that the bytes after go on with.
    for (std::size_t i = 0; i < count; ++i)
        rows[i * width + column] = data[i];
}

// The reverse of StoreColumnBytes: takes count bytes of the plane, in the file's
// order from byte `first` on, into data.
void FetchColumnBytes(const TPic& plane, std::size_t first, std::uint8_t* data, std::size_t count) {
    if (count == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    const std::uint8_t* const rows = plane.Data.data();
    std::size_t column = first / height;
    if (const std::size_t row = first % height; row != 0) {
        const std::size_t rest = std::min(count, height - row);
        for (std::size_t i = 0; i < rest; ++i)
            data[i] = rows[(row + i) * width + column];
        data += rest;
        count -= rest;
        ++column;
    }
    const std::size_t columns = count / height;
    TransposeBytes(rows + column, width, height, columns, data, height);
    data += columns * height;
    count -= columns * height;
    column += columns;
    for (std::size_t i = 0; i < count; ++i)
        data[i] = rows[i * width + column];
}

// Sets every byte of the plane from byte `first` of the file's order on to 0.
void ClearColumnBytesFrom(TPic& plane, std::size_t first) {
    if (plane.Width == 0 || plane.Height == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    const std::size_t column = first / height;
    const std::size_t row = first % height;
    for (std::size_t r = 0; r < height; ++r) {
        const std::size_t from = column + (r < row ? 1 : 0);
        if (from < width)
            std::memset(plane.Data[std::int32_t(r)] + from, 0, width - from);
    }
}

// Writes the plane's bytes column by column; the plane's size has been checked.
void WritePlane(const TPic& plane, TAtomicFile& file) {
    const std::size_t bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
    if (bytes == 0)
        return;
    // Whole columns at a time where a column is not larger than a piece.
    const std::size_t height = std::size_t(plane.Height);
    const std::size_t piece =
        height >= kWriteChunkBytes ? kWriteChunkBytes : kWriteChunkBytes / height * height;
    const std::size_t size = std::min(piece, bytes);
    const auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    for (std::size_t first = 0; first < bytes; first += size) {
        const std::size_t count = std::min(size, bytes - first);
        FetchColumnBytes(plane, first, chunk.get(), count);
        file.Write(chunk.get(), count);
    }
}

// One plane being read from its file, in bands of whole chunks that any thread may
// take, and what reading each band gave.
struct TPlaneRead {
    TPic* Plane = nullptr;
    std::string FileName;
    std::size_t Bytes = 0; // Width × Height
    std::size_t ChunkBytes = 0;
    std::size_t BandBytes = 0;
    std::int32_t Bands = 0;

    // The file: opened by the first band that needs it, closed once all are read.
    std::mutex FileLock;
    bool Opened = false;
    std::optional<TInputFile> File;
    std::exception_ptr OpenError;
    std::size_t Available = 0; // the bytes of the plane that the file held when opened

    // Per band, set by the thread that reads it: what it raised, and where the bytes
    // stored from the band's start end.
    std::vector<std::exception_ptr> BandErrors;
    std::vector<std::size_t> BandEnds;
    std::int32_t BandsLeft = 0; // under the reader's lock

    void Prepare(TPic& plane, std::string fileName) {
        Plane = &plane;
        FileName = std::move(fileName);
        Bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
        ChunkBytes = ::ChunkBytes(plane.Height);
        BandBytes = ChunkBytes * std::max<std::size_t>(1, kBandBytes / ChunkBytes);
        // A plane without bytes has one band all the same: its file must be there.
        Bands = static_cast<std::int32_t>(
            std::max<std::size_t>(1, (Bytes + BandBytes - 1) / BandBytes));
        BandErrors.assign(std::size_t(Bands), nullptr);
        BandEnds.resize(std::size_t(Bands));
        for (std::int32_t band = 0; band < Bands; ++band)
            BandEnds[std::size_t(band)] = BandBegin(band);
        BandsLeft = Bands;
    }
    std::size_t BandBegin(std::int32_t band) const {
        return std::min(Bytes, std::size_t(band) * BandBytes);
    }
    std::size_t BandEnd(std::int32_t band) const { return BandBegin(band + 1); }
    // Whether any band from `first` on stored bytes.
    bool StoredFrom(std::int32_t first) const {
        for (std::int32_t band = first; band < Bands; ++band)
            if (BandEnds[std::size_t(band)] > BandBegin(band))
                return true;
        return false;
    }

    // The open file; raises what opening it raised, for every band alike.
    const TInputFile& OpenedFile() {
        std::lock_guard lock(FileLock);
        if (!Opened) {
            Opened = true;
            try {
                File.emplace(FileName);
                Available = std::min(Bytes, File->Size());
            } catch (...) {
                OpenError = std::current_exception();
            }
        }
        if (OpenError)
            std::rethrow_exception(OpenError);
        return *File;
    }

    // Reads one band into the plane, chunk by chunk through buffer.
    void ReadBand(std::int32_t band, std::uint8_t* buffer) {
        std::size_t& reached = BandEnds[std::size_t(band)];
        try {
            const TInputFile& file = OpenedFile();
            const std::size_t end = std::min(BandEnd(band), Available);
            while (reached < end) {
                const std::size_t wanted = std::min(ChunkBytes, end - reached);
                const std::size_t got = ReadAt(file, FileName, buffer, wanted, reached);
                StoreColumnBytes(*Plane, reached, buffer, got);
                reached += got;
                if (got < wanted)
                    break; // the file has become shorter since it was opened
            }
        } catch (...) {
            BandErrors[std::size_t(band)] = std::current_exception();
        }
    }

    // Once every band is read: settles what reading the file gave, as reading it
    // from its start would have met it. The first band in the file's order that
    // raised or ended early decides; the plane keeps exactly the bytes before that
    // point, none after an error. Gives the error, and in stored the bytes kept.
    std::exception_ptr Finish(std::size_t& stored) {
        stored = Bytes;
        std::exception_ptr error;
        std::int32_t band = 0;
        for (; band < Bands; ++band) {
            if (BandErrors[std::size_t(band)]) {
                error = BandErrors[std::size_t(band)];
                stored = 0;
                break;
            }
            if (BandEnds[std::size_t(band)] < BandEnd(band)) {
                stored = BandEnds[std::size_t(band)];
                break;
            }
        }
        if (StoredFrom(error ? 0 : band + 1))
            ClearColumnBytesFrom(*Plane, stored);
        File.reset();
        if (!error && stored < Bytes)
            error = std::make_exception_ptr(EFileError(
                "Cannot read " + QuotedName(FileName) + ": it holds " + std::to_string(stored) +
                " bytes, but a plane of " + SizeText(Plane->Width, Plane->Height) +
                " pixels needs " + std::to_string(Bytes) + "."));
        return error;
    }
};

// The plane whose file could not be read, when one could not.
struct TReadFailure {
    std::int32_t Plane = -1;
    std::exception_ptr Error;
    std::size_t Stored = 0; // the bytes of its file that the plane kept
};

// Reads every plane from its file on up to `threads` threads, the bands of all
// planes in order. The calling thread settles the planes in order as their bands
// come in, calls progress for each one read and idle about every 0.1 s while it
// waits. The first plane that cannot be read, in plane order, ends the reading
// as it would have ended reading them one after another: the planes before it
// hold their files, it keeps what its file gave, every later one stays 0. A
// callback that raises ends the reading as well: the planes settled before it
// raised stay, the later ones are 0, and what it raised is raised again.
TReadFailure ReadPlanes(std::vector<TPlaneRead>& planes, int threads,
                        const std::function<void(std::int32_t, const std::string&)>& progress,
                        const std::function<void()>& idle) {
    const auto count = static_cast<std::int32_t>(planes.size());
    if (count == 0)
        return {};
    std::vector<std::pair<std::int32_t, std::int32_t>> bands; // plane, band
    std::size_t bufferBytes = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const TPlaneRead& plane = planes[std::size_t(i)];
        for (std::int32_t band = 0; band < plane.Bands; ++band)
            bands.emplace_back(i, band);
        bufferBytes = std::max(bufferBytes, std::min(plane.ChunkBytes, plane.Bytes));
    }
    const int workers = static_cast<int>(
        std::clamp<std::size_t>(std::size_t(std::max(threads, 1)), 1, bands.size()));
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    for (int worker = 0; worker < workers; ++worker)
        buffers.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(bufferBytes));

    std::mutex lock;
    std::condition_variable changed;
    bool ended = false; // the background reading is over
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next{0};
    auto readBand = [&](std::size_t index, std::uint8_t* buffer) {
        TPlaneRead& plane = planes[std::size_t(bands[index].first)];
        plane.ReadBand(bands[index].second, buffer);
        std::lock_guard guard(lock);
        if (--plane.BandsLeft == 0)
            changed.notify_all();
    };
    auto work = [&](std::int32_t worker) {
        for (std::size_t index; !stop && (index = next++) < bands.size();)
            readBand(index, buffers[std::size_t(worker)].get());
    };
    auto endReading = [&] {
        std::lock_guard guard(lock);
        ended = true;
        changed.notify_all();
    };
    auto waitUntil = [&](auto ready) {
        std::unique_lock guard(lock);
        WaitServing(guard, changed, ready, idle);
    };

    std::optional<TBackgroundTask> reading;
    if (workers > 1) {
        try {
            reading.emplace([&](std::stop_token) {
                try {
                    ForEachIndex(workers, workers, work);
                } catch (...) {
                    endReading();
                    throw;
                }
                endReading();
            });
        } catch (const std::system_error&) {
            // No thread to be had: the calling thread reads every band itself.
        }
    }

    TReadFailure failure;
    std::int32_t kept = 0; // planes settled; the later ones end 0 when the reading stops
    auto clearUnsettled = [&] {
        for (std::int32_t i = kept; i < count; ++i)
            if (planes[std::size_t(i)].StoredFrom(0))
                std::memset(planes[std::size_t(i)].Plane->Data.data(), 0,
                            planes[std::size_t(i)].Bytes);
    };
    try {
        for (std::int32_t i = 0; i < count; ++i) {
            TPlaneRead& plane = planes[std::size_t(i)];
            if (reading) {
                waitUntil([&] { return plane.BandsLeft == 0 || ended; });
                if (plane.BandsLeft != 0) {
                    reading->Wait(); // raises what ended the reading early
                    throw std::logic_error("the reading of the plane files ended early");
                }
            } else {
                for (std::int32_t band = 0; band < plane.Bands; ++band)
                    plane.ReadBand(band, buffers.front().get());
            }
            kept = i + 1;
            std::size_t stored = 0;
            if (std::exception_ptr error = plane.Finish(stored)) {
                failure = {i, error, stored};
                break;
            }
            if (progress)
                progress(i, plane.FileName);
        }
        stop = true;
        if (reading) {
            waitUntil([&] { return ended; });
            reading->Wait();
        }
    } catch (...) {
        stop = true;
        if (reading) {
            try {
                reading->Wait();
            } catch (...) {
                // What ended the reading early matters less than what is raised here.
            }
        }
        clearUnsettled();
        throw;
    }
    clearUnsettled();
    return failure;
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

// The header's lines, once its line count and plane size are known to be usable;
// false with error set otherwise. Raises EFileError when it cannot be read.
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
