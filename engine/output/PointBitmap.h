#pragma once
// The marked picture: plane 2 as grey with one red pixel at every rounded point
// centre, written as a 24-bit BMP file row by row, without a bitmap in memory.

#include "base/Parallel.h"
#include "decode/Points.h"
#include "files/AtomicFile.h"
#include "image/Plane.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

/// The marks of a point list on a width × height picture: the pixel at each rounded
/// centre that lies inside it.
class TPointMarks {
public:
    TPointMarks(const TUniquePoints& points, std::int32_t width, std::int32_t height);

    /// The rows that hold a mark, each once, from the top.
    std::vector<std::int32_t> Rows() const;

    /// Row row of the marked picture of plane, as the BMP file stores it (BitmapStride
    /// bytes): plane as grey, black beyond it, the marks red.
    void DrawRow(const TPic& plane, std::int32_t row, std::uint8_t* out) const;

private:
    std::int32_t width_;
    std::vector<std::uint64_t> marks_; // row << 32 | column, sorted
};

/// The marked picture of plane over width × height (black beyond the plane), written
/// under exactly fileName, atomically. Raises EFileError when it cannot be written.
void WritePointBitmap(const TPic& plane, std::int32_t width, std::int32_t height,
                      const TUniquePoints& points, const std::string& fileName);

/// A TEarlyPointBitmap of plane under fileName, or nullptr where the file cannot be
/// written early: a name that is not put in place at the end (a pipe, a device), or
/// no thread to be had. The file is then to be written whole, with WritePointBitmap.
std::unique_ptr<class TEarlyPointBitmap>
StartEarlyBitmap(const TPic& plane, const std::string& fileName, bool lowPriority);

/// The marked picture's file, written before the points are known. The picture is
/// plane in grey everywhere but at the marks, so all of it can go to a temporary file
/// early, on a thread of its own; once the marks are known, the rows that hold them
/// are written again and the file is put in place.
class TEarlyPointBitmap {
public:
    /// Starts writing plane, which must stay unchanged until Commit. With
    /// lowPriority the thread only takes time the other threads leave. Raises
    /// std::system_error when no thread can be started.
    TEarlyPointBitmap(const TPic& plane, const std::string& fileName, bool lowPriority);
    TEarlyPointBitmap(const TEarlyPointBitmap&) = delete;
    TEarlyPointBitmap& operator=(const TEarlyPointBitmap&) = delete;
    // Dropped unfinished (the run failed before): the writing stops and the temporary
    // file goes.

    /// Writes rowOf(row) again for every row of markedRows, once the early writing is
    /// over, and raises the error that writing met, if any; Commit then puts the file
    /// in place. The two may run on different threads.
    void WriteRows(const std::vector<std::int32_t>& markedRows,
                   const std::function<const std::uint8_t*(std::int32_t row)>& rowOf);
    void Commit();

private:
    void Write(const TPic& plane, const std::string& fileName, bool lowPriority,
               std::stop_token stop);

    std::optional<TAtomicFile> file_;
    std::size_t headerSize_ = 0;
    std::int32_t height_ = 0;
    std::size_t stride_ = 0;
    TBackgroundTask writer_; // last: it starts once the rest is ready, and is joined first
};
