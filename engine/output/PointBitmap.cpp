#include "output/PointBitmap.h"

#include "image/Bitmap.h"
#include "base/Format.h"
#include "image/GreyMix.h"

#include <algorithm>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Writes the header of a 24-bit BMP file of width × height and its rows, bottom row
// first as the file stores them, a megabyte of rows at a time; draw(row, out) fills
// a row's pixels (its padding is 0 already). Stops early once stopped() holds.
// Gives the header's size.
template <class TDraw, class TStopped = bool (*)()>
std::size_t WriteBitmapRows(
    TAtomicFile& file, std::int32_t width, std::int32_t height, TDraw draw,
    TStopped stopped = [] { return false; }) {
    const std::vector<std::uint8_t> header = BmpFileHeader(width, height, TPixelFormat::pf24bit);
    file.Write(header.data(), header.size());
    const std::size_t stride = BitmapStride(width, TPixelFormat::pf24bit);
    const std::int32_t rowsPerChunk = std::max<std::int32_t>(
        1, std::int32_t((std::size_t(1) << 20) / std::max<std::size_t>(stride, 1)));
    std::vector<std::uint8_t> chunk(stride * std::size_t(rowsPerChunk), 0);
    for (std::int32_t row = height - 1; row >= 0 && !stopped();) {
        std::size_t used = 0;
        for (std::int32_t n = 0; n < rowsPerChunk && row >= 0; ++n, --row, used += stride)
            draw(row, chunk.data() + used);
        file.Write(chunk.data(), used);
    }
    return header.size();
}

} // namespace

TPointMarks::TPointMarks(const TUniquePoints& points, std::int32_t width, std::int32_t height)
    : width_(width) {
    for (std::int32_t i = 0; i < points.EntryCount; ++i) {
        const TUniquePoint& point = points.Entries[std::size_t(i)];
        const std::int32_t row = RoundToPixel(point.Y);
        const std::int32_t col = RoundToPixel(point.X);
        if (row >= 0 && row < height && col >= 0 && col < width)
            marks_.push_back(std::uint64_t(row) << 32 | std::uint32_t(col));
    }
    std::sort(marks_.begin(), marks_.end());
}

std::vector<std::int32_t> TPointMarks::Rows() const {
    std::vector<std::int32_t> rows;
    for (std::uint64_t mark : marks_)
        if (rows.empty() || rows.back() != std::int32_t(mark >> 32))
            rows.push_back(std::int32_t(mark >> 32));
    return rows;
}

void TPointMarks::DrawRow(const TPic& plane, std::int32_t row, std::uint8_t* out) const {
    const std::size_t stride = BitmapStride(width_, TPixelFormat::pf24bit);
    std::memset(out, 0, stride);
    const std::int32_t grey = std::min(width_, plane.Width);
    if (row < plane.Height && grey > 0)
        GreyToBgr(plane.Data[row], out, grey);
    auto mark = std::lower_bound(marks_.begin(), marks_.end(), std::uint64_t(row) << 32);
    for (; mark != marks_.end() && std::int32_t(*mark >> 32) == row; ++mark) {
        std::uint8_t* pixel = out + 3 * std::size_t(std::uint32_t(*mark));
        pixel[0] = 0x00; // 0xFF0000, red, stored blue first
        pixel[1] = 0x00;
        pixel[2] = 0xFF;
    }
}

void WritePointBitmap(const TPic& plane, std::int32_t width, std::int32_t height,
                      const TUniquePoints& points, const std::string& fileName) {
    const TPointMarks marks(points, width, height);
    TAtomicFile file(fileName);
    WriteBitmapRows(file, width, height,
                    [&](std::int32_t row, std::uint8_t* out) { marks.DrawRow(plane, row, out); });
    file.Commit();
}

TEarlyPointBitmap::TEarlyPointBitmap(const TPic& plane, const std::string& fileName,
                                     bool lowPriority)
    : writer_([this, &plane, fileName, lowPriority](std::stop_token stop) {
          Write(plane, fileName, lowPriority, stop);
      }) {}

void TEarlyPointBitmap::Finish(const std::vector<std::int32_t>& markedRows,
                               const std::function<const std::uint8_t*(std::int32_t row)>& rowOf) {
    WriteRows(markedRows, rowOf);
    Commit();
}

void TEarlyPointBitmap::WriteRows(
    const std::vector<std::int32_t>& markedRows,
    const std::function<const std::uint8_t*(std::int32_t row)>& rowOf) {
    writer_.Wait();
    for (std::int32_t row : markedRows)
        file_->WriteAt(headerSize_ + std::uint64_t(height_ - 1 - row) * stride_, rowOf(row),
                       stride_);
}

void TEarlyPointBitmap::Commit() {
    file_->Commit();
}

void TEarlyPointBitmap::Write(const TPic& plane, const std::string& fileName, bool lowPriority,
                              std::stop_token stop) {
    if (lowPriority) // a hint: without it the file is only written sooner
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    height_ = plane.Height;
    stride_ = BitmapStride(plane.Width, TPixelFormat::pf24bit);
    file_.emplace(fileName);
    headerSize_ = WriteBitmapRows(
        *file_, plane.Width, plane.Height,
        [&](std::int32_t row, std::uint8_t* out) { GreyToBgr(plane.Data[row], out, plane.Width); },
        [&stop] { return stop.stop_requested(); });
    file_->StartWriteBack();
}
