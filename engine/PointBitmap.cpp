#include "PointBitmap.h"

#include "Bitmap.h"
#include "Format.h"
#include "GreyMix.h"

#include <algorithm>
#include <cstring>
#include <sys/resource.h>
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
    const std::vector<std::uint8_t> header = BmpFileHeader(width, height, TPixelFormat::pf24bit);
    file.Write(header.data(), header.size());
    // Bottom row first, as the file stores them; a megabyte of rows at a time.
    const std::size_t stride = BitmapStride(width, TPixelFormat::pf24bit);
    const std::int32_t rowsPerChunk = std::max<std::int32_t>(
        1, std::int32_t((std::size_t(1) << 20) / std::max<std::size_t>(stride, 1)));
    std::vector<std::uint8_t> chunk(stride * std::size_t(rowsPerChunk));
    for (std::int32_t row = height - 1; row >= 0;) {
        std::size_t used = 0;
        for (std::int32_t n = 0; n < rowsPerChunk && row >= 0; ++n, --row, used += stride)
            marks.DrawRow(plane, row, chunk.data() + used);
        file.Write(chunk.data(), used);
    }
    file.Commit();
}

TEarlyPointBitmap::TEarlyPointBitmap(const TPic& plane, const std::string& fileName,
                                     bool lowPriority)
    : writer_([this, &plane, fileName, lowPriority](std::stop_token stop) {
          Write(plane, fileName, lowPriority, stop);
      }) {}

void TEarlyPointBitmap::Finish(const std::vector<std::int32_t>& markedRows,
                               const std::function<const std::uint8_t*(std::int32_t row)>& rowOf) {
    writer_.Wait();
    for (std::int32_t row : markedRows)
        file_->WriteAt(headerSize_ + std::uint64_t(height_ - 1 - row) * stride_, rowOf(row),
                       stride_);
    file_->Commit();
}

void TEarlyPointBitmap::Write(const TPic& plane, const std::string& fileName, bool lowPriority,
                              std::stop_token stop) {
    if (lowPriority) // a hint: without it the file is only written sooner
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    const std::vector<std::uint8_t> header =
        BmpFileHeader(plane.Width, plane.Height, TPixelFormat::pf24bit);
    headerSize_ = header.size();
    height_ = plane.Height;
    stride_ = BitmapStride(plane.Width, TPixelFormat::pf24bit);
    file_.emplace(fileName);
    file_->Write(header.data(), header.size());
    // Bottom row first; a megabyte of rows at a time.
    const std::int32_t rowsPerChunk =
        std::max<std::int32_t>(1, std::int32_t((std::size_t(1) << 20) / stride_));
    std::vector<std::uint8_t> chunk(stride_ * std::size_t(rowsPerChunk), 0);
    for (std::int32_t row = plane.Height - 1; row >= 0 && !stop.stop_requested();) {
        std::size_t used = 0;
        for (std::int32_t n = 0; n < rowsPerChunk && row >= 0; ++n, --row, used += stride_)
            GreyToBgr(plane.Data[row], chunk.data() + used, plane.Width);
        file_->Write(chunk.data(), used);
    }
    file_->StartWriteBack();
}
