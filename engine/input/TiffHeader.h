#pragma once
// A TIFF's first image directory read and checked, for the TIFF input of
// engine/input: what kind of picture it holds, where its data lies and what
// decoding it takes.

#include "input/PictureRows.h"
#include "input/TiffHandle.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TInputFile;

namespace tiff_detail {

/// What the first image directory says, checked.
struct TTiffPicture {
    std::uint32_t Width = 0, Height = 0;
    int Bits = 8;
    int Samples = 1;       // a pixel, as stored
    int ColourSamples = 1; // 1 grey or palette index, 3 colour
    bool Separate = false; // stored plane by plane
    bool Tiled = false;
    bool Palette = false;
    bool Inverted = false; // 0 is white
    std::uint32_t TileWidth = 0, TileLength = 0;
    std::uint32_t MaxValue = 255;                      // of the samples, or of a palette's colours
    std::array<std::vector<std::uint16_t>, 3> Colours; // a palette's red, green, blue
    std::uint64_t DecoderBytes = 0;

    /// The planes read: all colour samples when stored plane by plane, else one.
    int PlanesRead() const { return Separate ? ColourSamples : 1; }
    /// Samples of one plane's pixel.
    int PlaneSamples() const { return Separate ? 1 : Samples; }
};

/// A TIFF open at its first image, and what that image is.
struct TOpenTiff {
    std::unique_ptr<TTiff> Tiff;
    TTiffPicture Picture;
};

/// Opens the TIFF of an open file at its first image and checks that its picture
/// can be read, as ReadTiffHeader describes; raises as ReadTiffHeader does.
TOpenTiff OpenTiffPicture(const TInputFile& file, const std::string& fileName,
                          const TPictureSettings& settings);

} // namespace tiff_detail
