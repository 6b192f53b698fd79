// The seeds of fuzz_picset: picture sets saved by the engine and framed as one input,
// one cut short, and one whose header names devices.

#include "FuzzSupport.h"
#include "Seeds.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace NSeeds {

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A picture set saved by the engine, framed as FuzzPicSet reads it.
std::string PicSetInput(int width, int height, int planes) {
    const fs::path folder = fs::path(ScratchFolder()) / "picset";
    fs::create_directories(folder);
    TPics pics;
    pics.SetCount(planes, width, height);
    for (int k = 0; k < planes; ++k) {
        const std::vector<std::uint8_t> pixels = SamplePixels(width, height, 1, k % 17);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                pics.Planes[std::size_t(k)].Data[row][col] =
                    pixels[std::size_t(row) * std::size_t(width) + std::size_t(col)];
    }
    SavePicSet(pics, (folder / kPicSetHeader).string(), true);
    std::string input = ReadAll(folder / kPicSetHeader);
    for (int k = 0; k < planes; ++k)
        input.append(kSectionMarker).append(ReadAll(folder / PicSetFileName(std::size_t(k))));
    fs::remove_all(folder);
    return input;
}

} // namespace

void PicSetSeeds(const fs::path& folder) {
    Write(folder / "one-plane.bin", PicSetInput(16, 12, 1));
    Write(folder / "three-planes.bin", PicSetInput(24, 8, 3));
    Write(folder / "stack.bin", PicSetInput(12, 10, 17));
    std::string shortPlane = PicSetInput(16, 16, 2);
    shortPlane.resize(shortPlane.size() - 40);
    Write(folder / "short-plane.bin", shortPlane);
    Write(folder / "devices.bin", "title\r\n4\r\n4\r\n----\r\n/dev/zero\r\n/proc/self/status\r\n");
}

} // namespace NSeeds
