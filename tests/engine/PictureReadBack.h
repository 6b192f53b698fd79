#pragma once
// Written PNG and TIFF pictures read back with libpng and libtiff, so that the
// writers' files can be checked sample by sample and tag by tag.

#include "RawPicture.h"

#include <cstdint>
#include <exception>
#include <gtest/gtest.h>
#include <string>
#include <vector>

/// Whether found has the shape and the values of expected; else the first difference.
::testing::AssertionResult SameValues(const TRawPicture& expected, const TRawPicture& found);

/// A PNG as libpng reads it, samples of fewer than 8 bits unpacked.
struct TPngRead {
    TRawPicture Picture;
    int ColourType = -1;
    int Interlace = -1;
};

/// Reads a PNG from its bytes; a test failure when libpng cannot.
TPngRead ReadPng(const std::vector<std::uint8_t>& bytes);

/// One image of a TIFF as libtiff reads it, with the tags the writer sets.
struct TTiffRead {
    TRawPicture Picture;
    int Photometric = 0, Compression = 0, Planar = 0, SampleFormat = 1;
    bool Tiled = false, BigEndian = false;
    std::vector<std::uint16_t> Extra;
    int MaxSampleValue = -1;
};

/// Reads every image of a TIFF file; a test failure when libtiff cannot open it.
std::vector<TTiffRead> ReadTiff(const std::string& path);

/// The message of the exception the call raises, or "no error".
template <class TCall> std::string ErrorOf(TCall call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}
