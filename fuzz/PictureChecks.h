#pragma once
// What the PNG and TIFF targets check of a photograph in a scratch file: it is read
// through every entry of the engine's picture input, with several settings, and the
// results must agree with each other and with what its header says.

#include "input/PictureInput.h"

#include <cstdint>
#include <string>

/// Pictures of up to this many pixels are read with every setting and through every
/// entry; larger ones are decoded once, their header read beside.
inline constexpr std::uint64_t kCheckedPixels = std::uint64_t(1) << 20;
/// Pictures of more pixels, up to the engine's limit, are not decoded at all: under
/// the sanitizers and the coverage counters they take longer than the fuzzer's time
/// limit, which says nothing about the decoder. Sizes beyond the limit are always
/// tried, since they must be refused before anything is allocated.
inline constexpr std::uint64_t kDecodedPixels = std::uint64_t(1) << 24;

/// What a photograph's header announces, as a target reads it itself.
struct TDeclaredPicture {
    TPictureFormat Format = TPictureFormat::Png; ///< what the file's first bytes say
    std::uint64_t Pixels = 0;                    ///< width × height; 0 when not told
};

/// Reads the photograph in file, whose header announces declared, and calls
/// Finding on anything but EPictureError and EFileError coming out and on results
/// that do not agree (see PictureChecks.cpp). -1 for an input skipped as too large
/// to decode (not to be kept in the corpus), else 0: what LLVMFuzzerTestOneInput
/// returns.
int CheckPictureFile(const std::string& file, const TDeclaredPicture& declared);
