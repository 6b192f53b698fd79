#include "image/Bitmap.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "files/AtomicFile.h"
#include "files/FileUtil.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

void PutLE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLE32(std::uint8_t* p, std::uint32_t v) {
    PutLE16(p, v);
    PutLE16(p + 2, v >> 16);
}

std::size_t BytesPerPixel(TPixelFormat format) {
    return format == TPixelFormat::pf24bit ? 3 : 1;
}

} // namespace

TBitmap::TBitmap(std::int32_t width, std::int32_t height, TPixelFormat format) : format_(format) {
    SetSize(width, height);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    format_ = format;
    Reallocate();
}

void TBitmap::SetSize(std::int32_t width, std::int32_t height) {
    if (!IsPictureSize(width, height))
        throw std::invalid_argument("a bitmap of " + SizeText(width, height) +
                                    " pixels is not possible");
    width_ = width;
    height_ = height;
    Reallocate();
}

void TBitmap::Reallocate() {
    stride_ = BitmapStride(width_, format_);
    try {
        pixels_.Resize(height_, static_cast<std::int32_t>(stride_));
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory("a bitmap of " + SizeText(width_, height_) + " pixels",
                         std::uint64_t(stride_) * std::uint64_t(height_));
    }
}

void TBitmap::SaveToFile(const std::string& fileName) const {
    // Our rows are already padded to 4 bytes with zeros, exactly as BMP stores them.
    TAtomicFile file(fileName);
    WriteBmpRows(file, width_, height_, format_, [this](std::int32_t row, std::uint8_t* out) {
        std::memcpy(out, ScanLine(row), stride_);
    });
    file.Commit();
}

std::size_t WriteBmpRows(TAtomicFile& file, std::int32_t width, std::int32_t height,
                         TPixelFormat format,
                         const std::function<void(std::int32_t row, std::uint8_t* out)>& draw,
                         const std::function<bool()>& stopped) {
    const std::vector<std::uint8_t> header = BmpFileHeader(width, height, format);
    file.Write(header.data(), header.size());
    const std::size_t stride = BitmapStride(width, format);
    const std::int32_t rowsPerChunk = std::max<std::int32_t>(
        1, std::int32_t((std::size_t(1) << 20) / std::max<std::size_t>(stride, 1)));
    std::vector<std::uint8_t> chunk(stride * std::size_t(rowsPerChunk), 0);
    for (std::int32_t row = height - 1; row >= 0 && !(stopped && stopped());) {
        std::size_t used = 0;
        for (std::int32_t n = 0; n < rowsPerChunk && row >= 0; ++n, --row, used += stride)
            draw(row, chunk.data() + used);
        file.Write(chunk.data(), used);
    }
    return header.size();
}

std::size_t BitmapStride(std::int32_t width, TPixelFormat format) {
    return (std::size_t(width) * BytesPerPixel(format) + 3) & ~std::size_t(3);
}

std::vector<std::uint8_t> BmpFileHeader(std::int32_t width, std::int32_t height,
                                        TPixelFormat format) {
    const bool grey = format == TPixelFormat::pf8bit;
    const std::uint32_t paletteSize = grey ? 256 * 4 : 0;
    const std::uint32_t dataOffset = 14 + 40 + paletteSize;
    const auto imageSize =
        static_cast<std::uint32_t>(BitmapStride(width, format) * std::size_t(height));

    std::vector<std::uint8_t> header(dataOffset, 0);
    header[0] = 'B';
    header[1] = 'M';
    PutLE32(&header[2], dataOffset + imageSize);
    PutLE32(&header[10], dataOffset);
    PutLE32(&header[14], 40); // BITMAPINFOHEADER
    PutLE32(&header[18], static_cast<std::uint32_t>(width));
    PutLE32(&header[22], static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    PutLE16(&header[26], 1);                                  // planes
    PutLE16(&header[28], grey ? 8 : 24);
    PutLE32(&header[30], 0); // BI_RGB, no compression
    PutLE32(&header[34], imageSize);
    PutLE32(&header[38], 2835); // 72 dots per inch
    PutLE32(&header[42], 2835);
    PutLE32(&header[46], grey ? 256 : 0);
    for (std::size_t v = 0; grey && v < 256; ++v)
        header[54 + 4 * v] = header[54 + 4 * v + 1] = header[54 + 4 * v + 2] =
            static_cast<std::uint8_t>(v);
    return header;
}
