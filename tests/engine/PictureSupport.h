#pragma once
// What the picture input tests expect of a decoded photograph, from the samples
// written into it, and the errors its decoding raises; the entries of a TIFF's
// directory, for files changed by hand.

#include "RawPicture.h"
#include "image/GreyMix.h"
#include "image/Plane.h"
#include "input/PictureInput.h"
#include "input/PictureRows.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <gtest/gtest.h>
#include <string>
#include <vector>

/// What a decoded picture must give, from its samples and how they are read.
struct TExpectation {
    int ColourSamples = 1;
    std::uint32_t MaxValue = 255;
    bool Inverted = false;
    bool Palette = false;
};

/// The colour samples of pixel i (a palette's colours for an index).
inline std::array<std::uint32_t, 3> Colour(const TRawPicture& picture, const TExpectation& e,
                                           std::size_t i) {
    const std::uint32_t* s = &picture.Values[i * std::size_t(picture.Samples)];
    if (e.Palette) {
        const auto& entry = picture.Palette[s[0]];
        return {entry[0], entry[1], entry[2]};
    }
    std::array<std::uint32_t, 3> colour{s[0], s[0], s[0]};
    if (e.ColourSamples == 3)
        colour = {s[0], s[1], s[2]};
    if (e.Inverted)
        for (std::uint32_t& v : colour)
            v = e.MaxValue - std::min(v, e.MaxValue);
    return colour;
}

/// The plane value pixel i must give for channel.
inline std::uint8_t ExpectedValue(const TRawPicture& picture, const TExpectation& e, std::size_t i,
                                  std::uint8_t channel) {
    const std::array<std::uint32_t, 3> c = Colour(picture, e, i);
    const bool colour = e.ColourSamples == 3 || e.Palette;
    if (!colour || channel <= kChannelBlue)
        return SampleToPlane(c[colour ? channel : 0], e.MaxValue);
    return GreyValue(SampleToPlane(c[0], e.MaxValue), SampleToPlane(c[1], e.MaxValue),
                     SampleToPlane(c[2], e.MaxValue));
}

/// Decodes file for every channel and checks every value, and the full-depth values
/// of the red channel; the first wrong pixel is named.
inline void ExpectDecodes(const std::string& file, const TRawPicture& picture,
                          const TExpectation& e, const TPictureSettings& base = {}) {
    for (std::uint8_t channel : {kChannelRed, kChannelGreen, kChannelBlue, kChannelGrey}) {
        TPictureSettings settings = base;
        settings.Channel = channel;
        TPic plane;
        TDeepPic deep;
        ASSERT_TRUE(LoadPlaneFromPicture(plane, file, settings, &deep));
        ASSERT_EQ(plane.Width, picture.Width);
        ASSERT_EQ(plane.Height, picture.Height);
        ASSERT_EQ(deep.Width, picture.Width);
        EXPECT_EQ(deep.SourceMax, e.MaxValue);
        for (std::int32_t row = 0; row < picture.Height; ++row)
            for (std::int32_t col = 0; col < picture.Width; ++col) {
                const std::size_t i = std::size_t(row) * std::size_t(picture.Width) + col;
                ASSERT_EQ(int(plane.Data[row][col]), int(ExpectedValue(picture, e, i, channel)))
                    << "channel " << int(channel) << ", row " << row << ", column " << col;
                if (channel != kChannelRed)
                    continue;
                const std::uint32_t v = Colour(picture, e, i)[0];
                ASSERT_EQ(deep.Data[row][col], SampleToDeep(v, e.MaxValue))
                    << "full depth, row " << row << ", column " << col;
            }
    }
}

/// What LoadPlaneFromPicture raises for file, or "no error".
inline std::string ErrorOf(const std::string& file, const TPictureSettings& settings = {}) {
    try {
        TPic plane;
        LoadPlaneFromPicture(plane, file, settings);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

/// What ReadPictureHeader raises for file, or "no error".
inline std::string HeaderErrorOf(const std::string& file) {
    try {
        ReadPictureHeader(file, {});
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

/// picture with a palette of entries colours, each scaled by scale.
inline TRawPicture WithPalette(TRawPicture picture, int entries, std::uint16_t scale) {
    for (int i = 0; i < entries; ++i)
        picture.Palette.push_back({std::uint16_t((i * 37 % 256) * scale),
                                   std::uint16_t((255 - i * 11 % 256) * scale),
                                   std::uint16_t((i * i % 256) * scale)});
    return picture;
}

/// The 12-byte entry of tag in the first directory of a little-endian TIFF.
inline std::uint8_t* TiffEntry(std::vector<std::uint8_t>& tiff, int tag) {
    auto word = [&](std::size_t at) { return std::uint32_t(tiff[at] | tiff[at + 1] << 8); };
    const std::uint32_t directory = word(4) | word(6) << 16;
    for (std::uint32_t k = 0; k < word(directory); ++k) {
        std::uint8_t* entry = &tiff[directory + 2 + 12 * std::size_t(k)];
        if ((entry[0] | entry[1] << 8) == tag)
            return entry;
    }
    return nullptr;
}

/// Stores value at `at`, least significant byte first.
inline void PutLE32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}
