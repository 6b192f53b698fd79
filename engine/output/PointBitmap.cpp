#include "output/PointBitmap.h"

#include "base/Format.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "image/GreyMix.h"

#include <algorithm>
#include <cstring>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

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
    WriteBmpRows(file, width, height, TPixelFormat::pf24bit,
                 [&](std::int32_t row, std::uint8_t* out) { marks.DrawRow(plane, row, out); });
    file.Commit();
}

std::unique_ptr<TEarlyPointBitmap> StartEarlyBitmap(const TPic& plane, const std::string& fileName,
                                                    bool lowPriority) {
    // Only a file put in place at the end can be written early: a pipe or a device
    // would receive the picture before the points file exists.
    if (!WrittenAtomically(fileName))
        return nullptr;
    try {
        return std::make_unique<TEarlyPointBitmap>(plane, fileName, lowPriority);
    } catch (const std::system_error&) {
        return nullptr; // no thread to be had: the file is written whole at the end
    }
}

TEarlyPointBitmap::TEarlyPointBitmap(const TPic& plane, const std::string& fileName,
                                     bool lowPriority)
    : writer_([this, &plane, fileName, lowPriority](std::stop_token stop) {
          Write(plane, fileName, lowPriority, stop);
      }) {}

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
    headerSize_ = WriteBmpRows(
        *file_, plane.Width, plane.Height, TPixelFormat::pf24bit,
        [&](std::int32_t row, std::uint8_t* out) { GreyToBgr(plane.Data[row], out, plane.Width); },
        [&stop] { return stop.stop_requested(); });
    file_->StartWriteBack();
}
