#include "PicHolder.h"

#include "FileUtil.h"

#include <stdexcept>

namespace {

// A list file names its photographs from line 3 on.
constexpr std::size_t kListHeaderLines = 2;

std::string SizeText(std::int32_t width, std::int32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace

void TPic::SetSize(std::int32_t width, std::int32_t height) {
    if (width < 0 || height < 0 || std::int64_t(width) * height > kMaxPlanePixels)
        throw std::invalid_argument("a plane of " + SizeText(width, height) +
                                    " pixels is not possible");
    Data.Resize(height, width);
    Width = width;
    Height = height;
}

bool SetPlaneValue(TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t value) {
    if (row < 0 || row >= plane.Height || column < 0 || column >= plane.Width)
        return false;
    plane.Data[row][column] = value;
    return true;
}

bool GetPlaneValue(const TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t& value) {
    if (row < 0 || row >= plane.Height || column < 0 || column >= plane.Width)
        return false;
    value = plane.Data[row][column];
    return true;
}

// ---------------------------------------------------------------------------

void TPics::SetCount(std::int32_t count, std::int32_t width, std::int32_t height) {
    if (count < 0 || count > kMaxPlanes)
        throw std::invalid_argument("a stack of " + std::to_string(count) +
                                    " planes is not possible");
    // The new planes are built before the old ones go, so a failure (an impossible
    // size, no memory) leaves the stack as it was. Fresh planes cost no memory
    // until written (see TGrid).
    std::vector<TPic> planes(static_cast<std::size_t>(count));
    for (TPic& plane : planes)
        plane.SetSize(width, height);
    Planes = std::move(planes);
}

bool TPics::LoadFromList(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                         const TLoadOptions& options) {
    lastError_.clear();
    if (!FileExists(fileName)) {
        lastError_ = "The list file \"" + fileName + "\" does not exist.";
        return false;
    }
    std::vector<std::string> lines = ReadTextLines(fileName);
    if (lines.size() <= kListHeaderLines || lines.size() > kListHeaderLines + kMaxPlanes) {
        lastError_ = "The list file \"" + fileName + "\" has " + std::to_string(lines.size()) +
                     " lines; it needs two header lines and then 1 to " +
                     std::to_string(kMaxPlanes) + " photograph names.";
        return false;
    }

    const auto count = static_cast<std::int32_t>(lines.size() - kListHeaderLines);
    SetCount(count, 0, 0);
    std::string missing;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string& line = lines[kListHeaderLines + std::size_t(i)];
        std::string name =
            ResolveFileName(namesOnly ? ExtractFileName(line) : line, options.BaseFolder);
        if (LoadPlaneFromJpeg(Planes[std::size_t(i)], name, channel)) {
            if (options.Progress)
                options.Progress(i, name);
            continue;
        }
        missing += missing.empty() ? "" : ", ";
        missing +=
            "line " + std::to_string(kListHeaderLines + std::size_t(i) + 1) + " \"" + name + "\"";
    }
    if (missing.empty())
        return true;
    lastError_ = "Photographs of the list file \"" + fileName +
                 "\" not found (missing, a folder or an empty name): " + missing + ".";
    return false;
}

bool TPics::CheckSize(std::int32_t& height, std::int32_t& width) const {
    bool result = true;
    for (std::size_t i = 1; i < Planes.size(); ++i) {
        if (Planes[i].Width != Planes[0].Width || Planes[i].Height != Planes[0].Height)
            result = false;
        if (result) {
            width = Planes[0].Width;
            height = Planes[0].Height;
        }
    }
    return result;
}

std::uint8_t TPics::GetValue(std::uint8_t index, std::int32_t row, std::int32_t col) const {
    std::uint8_t value = 0;
    TryGetValue(index, row, col, value);
    return value;
}

bool TPics::TryGetValue(std::uint8_t index, std::int32_t row, std::int32_t col,
                        std::uint8_t& value) const {
    return index < Planes.size() && GetPlaneValue(Planes[index], row, col, value);
}

void TPics::ShowPicture(std::uint8_t index, TBitmap& bitmap) const {
    if (index >= Planes.size())
        return;
    const TPic& plane = Planes[index];
    TBitmapPixMan pixels(bitmap);
    for (std::int32_t row = 0; row < plane.Height; ++row) {
        const std::uint8_t* values = plane.Data[row];
        for (std::int32_t col = 0; col < plane.Width; ++col)
            pixels.SetPixel(row, col, values[col] * 0x010101u);
    }
}
