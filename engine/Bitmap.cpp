#include "Bitmap.h"

#include "FileUtil.h"

#include <array>
#include <stdexcept>

namespace {

constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

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
    if (width < 0 || height < 0 || std::int64_t(width) * height > kMaxPixels)
        throw std::invalid_argument("a bitmap of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels is not possible");
    width_ = width;
    height_ = height;
    Reallocate();
}

void TBitmap::Reallocate() {
    stride_ = (std::size_t(width_) * BytesPerPixel(format_) + 3) & ~std::size_t(3);
    pixels_.Resize(height_, static_cast<std::int32_t>(stride_));
}

void TBitmap::SaveToFile(const std::string& fileName) const {
    const bool grey = format_ == TPixelFormat::pf8bit;
    const std::uint32_t paletteSize = grey ? 256 * 4 : 0;
    const std::uint32_t dataOffset = 14 + 40 + paletteSize;
    const auto imageSize = static_cast<std::uint32_t>(stride_ * std::size_t(height_));

    std::array<std::uint8_t, 54> header{};
    header[0] = 'B';
    header[1] = 'M';
    PutLE32(&header[2], dataOffset + imageSize);
    PutLE32(&header[10], dataOffset);
    PutLE32(&header[14], 40); // BITMAPINFOHEADER
    PutLE32(&header[18], static_cast<std::uint32_t>(width_));
    PutLE32(&header[22], static_cast<std::uint32_t>(height_)); // positive: bottom-up rows
    PutLE16(&header[26], 1);                                   // planes
    PutLE16(&header[28], grey ? 8 : 24);
    PutLE32(&header[30], 0); // BI_RGB, no compression
    PutLE32(&header[34], imageSize);
    PutLE32(&header[38], 2835); // 72 dots per inch
    PutLE32(&header[42], 2835);
    PutLE32(&header[46], grey ? 256 : 0);

    TAtomicFile file(fileName);
    file.Write(header.data(), header.size());
    if (grey) {
        std::array<std::uint8_t, 256 * 4> palette{};
        for (std::size_t v = 0; v < 256; ++v)
            palette[4 * v] = palette[4 * v + 1] = palette[4 * v + 2] = static_cast<std::uint8_t>(v);
        file.Write(palette.data(), palette.size());
    }
    // Our rows are already padded to 4 bytes with zeros, exactly as BMP stores them.
    for (std::int32_t row = height_ - 1; row >= 0; --row)
        file.Write(ScanLine(row), stride_);
    file.Commit();
}
