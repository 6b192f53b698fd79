// kelvaron-fuzz-seeds OUT: writes a few seeds for each fuzz target into
// OUT/fuzz_jpeg, OUT/fuzz_list, OUT/fuzz_picset, OUT/fuzz_png and OUT/fuzz_tiff,
// made with the sample-stack generator. Existing files of the same names are
// replaced; the fuzzers' own corpus files beside them are left alone. The seeds of
// each target are made in <Format>Seeds.cpp; this file holds main and their helpers.

#include "Seeds.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace NSeeds {

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TRawPicture WithPalette(TRawPicture picture, std::size_t entries, std::uint16_t scale) {
    for (std::uint32_t& v : picture.Values)
        v = v * std::uint32_t(entries) / (std::uint32_t(1) << picture.Bits);
    picture.Bits = 1;
    while ((std::size_t(1) << picture.Bits) < entries)
        ++picture.Bits;
    for (std::size_t k = 0; k < entries; ++k)
        picture.Palette.push_back({std::uint16_t(k * 255 / entries * scale),
                                   std::uint16_t((entries - 1 - k) * 255 / entries * scale),
                                   std::uint16_t((k * 7 % entries) * 255 / entries * scale)});
    return picture;
}

} // namespace NSeeds

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    try {
        const fs::path out = argv[1];
        for (const char* target :
             {"fuzz_jpeg", "fuzz_list", "fuzz_picset", "fuzz_png", "fuzz_tiff"})
            fs::create_directories(out / target);
        NSeeds::JpegSeeds(out / "fuzz_jpeg");
        NSeeds::ListSeeds(out / "fuzz_list");
        NSeeds::PicSetSeeds(out / "fuzz_picset");
        NSeeds::PngSeeds(out / "fuzz_png");
        NSeeds::TiffSeeds(out / "fuzz_tiff");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvaron-fuzz-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
