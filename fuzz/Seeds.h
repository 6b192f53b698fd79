#pragma once
// The seed writers of kelvaron-fuzz-seeds, one for each fuzz target's corpus, and
// the helpers they share.

#include "RawPicture.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace NSeeds {

/// Writes the bytes as the file, replacing it. Raises std::runtime_error naming the
/// file when it cannot be written.
void Write(const std::filesystem::path& path, const std::string& bytes);

/// The bytes as a string.
std::string Text(const std::vector<std::uint8_t>& bytes);

/// The picture's values mapped onto a palette of the given number of entries, at the
/// fewest bits that index them all, its colours 8-bit values times scale.
TRawPicture WithPalette(TRawPicture picture, std::size_t entries, std::uint16_t scale);

/// Seeds of fuzz_jpeg: JPEG photographs of the project's writer and of libjpeg with
/// settings that writer does not offer.
void JpegSeeds(const std::filesystem::path& folder);
/// Seeds of fuzz_list: list files naming the photographs and junk of FillListFolder.
void ListSeeds(const std::filesystem::path& folder);
/// Seeds of fuzz_picset: picture sets saved by the engine, framed as FuzzPicSet reads
/// them.
void PicSetSeeds(const std::filesystem::path& folder);
/// Seeds of fuzz_png: every colour type and depth, interlaced, stored, with ancillary
/// chunks, and damaged.
void PngSeeds(const std::filesystem::path& folder);
/// Seeds of fuzz_tiff: depths, compressions, byte orders, planes, strips and tiles,
/// palettes, kinds that must be refused, and damaged data.
void TiffSeeds(const std::filesystem::path& folder);

} // namespace NSeeds
