// Photographs of any format: the format told by the first bytes, damaged or
// hostile PNG and TIFF files refused with errors that name them, and a list that
// mixes JPEG, PNG and TIFF.

#include "input/PictureInput.h"

#include "PictureSupport.h"
#include "PngWriter.h"
#include "TestSupport.h"
#include "TiffWriter.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "input/JpegInput.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "pipeline/Evaluator.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A little-endian Deflate TIFF of width x height 8-bit grey pixels whose strips
// of stripRows rows, or tiles of tileWidth x tileLength (when tileWidth > 0), all
// point at one and the same 16 bytes of data.
std::vector<std::uint8_t> SharedDataTiff(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t stripRows, std::uint32_t tileWidth = 0,
                                         std::uint32_t tileLength = 0) {
    const bool tiled = tileWidth > 0;
    const std::uint32_t parts =
        tiled ? ((width + tileWidth - 1) / tileWidth) * ((height + tileLength - 1) / tileLength)
              : (height + stripRows - 1) / stripRows;
    std::vector<std::uint8_t> tiff{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(std::uint8_t(value >> (8 * i)));
    };
    std::vector<std::array<std::uint32_t, 3>> entries = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 8}, {262, 3, 1}, {277, 3, 1}};
    if (tiled)
        entries.insert(entries.end(), {{322, 4, tileWidth}, {323, 4, tileLength}});
    else
        entries.push_back({278, 4, stripRows});
    const std::uint32_t offsetsTag = tiled ? 324 : 273, countsTag = tiled ? 325 : 279;
    const std::uint32_t ifdBytes = 2 + 12 * std::uint32_t(entries.size() + 2) + 4;
    const std::uint32_t offsetsAt = 8 + ifdBytes, countsAt = offsetsAt + 4 * parts;
    const std::uint32_t dataAt = countsAt + 4 * parts;
    entries.push_back({offsetsTag, 4, parts > 1 ? offsetsAt : dataAt});
    entries.push_back({countsTag, 4, parts > 1 ? countsAt : 16});
    std::sort(entries.begin(), entries.end());
    put(std::uint32_t(entries.size()), 2);
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[0] == offsetsTag || entry[0] == countsTag ? parts : 1, 4);
        put(entry[2], 4);
    }
    put(0, 4);
    for (std::uint32_t i = 0; parts > 1 && i < parts; ++i)
        put(dataAt, 4);
    for (std::uint32_t i = 0; parts > 1 && i < parts; ++i)
        put(16, 4);
    tiff.resize(tiff.size() + 16, 0x55);
    return tiff;
}

} // namespace

TEST(PictureFormatOf, TellsTheFormatByTheFirstBytesOnly) {
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::uint8_t intel[] = {'I', 'I', 42, 0}, motorola[] = {'M', 'M', 0, 42};
    const std::uint8_t big[] = {'I', 'I', 43, 0}, wrong[] = {'I', 'M', 42, 0};
    EXPECT_EQ(PictureFormatOf(png, sizeof png), TPictureFormat::Png);
    EXPECT_EQ(PictureFormatOf(png, 7), TPictureFormat::Jpeg) << "cut short";
    EXPECT_EQ(PictureFormatOf(intel, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(motorola, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(big, 4), TPictureFormat::Tiff);
    EXPECT_EQ(PictureFormatOf(wrong, 4), TPictureFormat::Jpeg);
    EXPECT_EQ(PictureFormatOf(nullptr, 0), TPictureFormat::Jpeg);

    // The name says nothing: a PNG named .jpg is a PNG, a JPEG named .png a JPEG, and
    // what is neither meets the JPEG decoder, whose message stays as it was.
    TTempDir dir;
    const TRawPicture grey = PatternSamples(9, 5, 1, 8, 1);
    WriteFileBytes(dir / "png.jpg", EncodePng(grey));
    ExpectDecodes(dir / "png.jpg", grey, {});
    WritePatternJpeg(dir / "jpeg.png", 9, 5, 3, 2);
    TPic fromJpeg, asJpeg;
    ASSERT_TRUE(LoadPlaneFromPicture(fromJpeg, dir / "jpeg.png", {}));
    ASSERT_TRUE(LoadPlaneFromJpeg(asJpeg, dir / "jpeg.png", kChannelGrey));
    EXPECT_EQ(std::memcmp(fromJpeg.Data.data(), asJpeg.Data.data(), asJpeg.Data.size()), 0);
    WriteFileText(dir / "text.png", "hello\n");
    EXPECT_NE(ErrorOf(dir / "text.png").find("Not a JPEG file"), std::string::npos);
}

TEST(PictureInput, DamagedFilesAreErrorsThatNameTheFile) {
    TTempDir dir;
    const TRawPicture picture = PatternSamples(64, 48, 3, 8, 12);
    TPngWriteOptions rgb;
    rgb.Colour = TPngColour::Rgb;
    const std::vector<std::uint8_t> png = EncodePng(picture, rgb);
    TTiffWriteOptions strips;
    strips.Photometric = TTiffPhotometric::Rgb;
    strips.Compression = TTiffCompression::Lzw;
    strips.RowsPerStrip = 8;
    const std::vector<std::uint8_t> tiff = EncodeTiff({picture}, strips);

    std::vector<std::uint8_t> badData = png;
    badData.at(badData.size() - 20) ^= 0x40; // inside the picture data
    std::vector<std::uint8_t> badCrc = png;
    badCrc.back() ^= 0x01; // the end chunk's checksum
    std::vector<std::uint8_t> cutPng(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2));
    std::vector<std::uint8_t> noEnd(png.begin(), png.end() - 12); // without IEND
    // A strip that lies beyond the end of the file; a directory cut off.
    std::vector<std::uint8_t> farStrip = tiff;
    std::uint8_t* offsets = TiffEntry(farStrip, 273);
    ASSERT_NE(offsets, nullptr);
    PutLE32(&farStrip[offsets[8] | offsets[9] << 8 | offsets[10] << 16], 0x7FFFFFF0);
    std::vector<std::uint8_t> cutTiff(tiff.begin(), tiff.begin() + std::ptrdiff_t(tiff.size() / 3));
    // Garbage in the middle of the LZW data: the strips decode wrong or not at all.
    std::vector<std::uint8_t> badLzw = tiff;
    for (std::size_t i = 40; i < 400 && i < badLzw.size(); ++i)
        badLzw[i] = std::uint8_t(i * 7);

    const struct {
        const char* file;
        const std::vector<std::uint8_t>& bytes;
        const char* reason;
    } cases[] = {
        {"data.png", badData, "IDAT: CRC error"},
        {"crc.png", badCrc, "IEND: CRC error"},
        {"cut.png", cutPng, "ends before"},
        {"noend.png", noEnd, "ends before"},
        {"far.tif", farStrip, "strip 0 of its picture lies beyond the end of the file"},
        {"cut.tif", cutTiff, "directory"},
        {"lzw.tif", badLzw, "Cannot decode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = dir / c.file;
        WriteFileBytes(file, c.bytes);
        const std::string message = ErrorOf(file);
        EXPECT_NE(message.find(QuotedName(file)), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        TPic plane;
        plane.SetSize(2, 1);
        EXPECT_THROW(LoadPlaneFromPicture(plane, file, {}), EPictureError);
        EXPECT_EQ(plane.Width, 2) << "the plane is left as it was";
    }
}

TEST(PictureInput, HugeClaimsInTinyFilesAreRefusedAtOnce) {
    TTempDir dir;
    const auto start = std::chrono::steady_clock::now();
    WriteFileBytes(dir / "huge.png", TinyPngHeader(100000, 100000));
    EXPECT_NE(HeaderErrorOf(dir / "huge.png").find("100000 x 100000"), std::string::npos);
    EXPECT_NE(ErrorOf(dir / "huge.png").find("larger than"), std::string::npos);
    // Chunks of text, a colour profile and the like that claim far more bytes than
    // the file holds: the file ends before they do, and nothing is taken into memory
    // for them first.
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf"}) {
        std::vector<std::uint8_t> png = TinyPngHeader(24, 16);
        std::vector<std::uint8_t> claim{0x69, 0x43, 0x43, 0x50}; // 1.7 GB
        claim.insert(claim.end(), type, type + 4);
        claim.insert(claim.end(), 20, 'x');
        png.insert(png.begin() + 33, claim.begin(), claim.end()); // after IHDR
        WriteFileBytes(dir / "claim.png", png);
        EXPECT_NE(ErrorOf(dir / "claim.png").find("the file ends before its picture does"),
                  std::string::npos)
            << type << ": " << ErrorOf(dir / "claim.png");
    }
    // Within a plane's size, but a few bytes of data can never fill it.
    WriteFileBytes(dir / "large.png", TinyPngHeader(16000, 16000));
    EXPECT_NE(ErrorOf(dir / "large.png").find("can never fill a picture of 16000 x 16000"),
              std::string::npos);

    // TIFF: a small file whose directory is changed to claim 16000 x 16000 pixels in
    // its one strip.
    TRawPicture small = PatternSamples(16, 16, 1, 8, 13);
    TTiffWriteOptions deflate;
    deflate.Compression = TTiffCompression::Deflate;
    deflate.RowsPerStrip = 16;
    std::vector<std::uint8_t> tiff = EncodeTiff({small}, deflate);
    // Little-endian: the directory's entries are 12 bytes each; width is tag 256,
    // height 257, rows per strip 278, all as SHORT or LONG values.
    for (int tag : {256, 257, 278}) {
        std::uint8_t* entry = TiffEntry(tiff, tag);
        ASSERT_NE(entry, nullptr) << tag;
        PutLE32(entry + 8, 16000); // a SHORT's value lies in the first two bytes
    }
    WriteFileBytes(dir / "large.tif", tiff);
    const std::string message = ErrorOf(dir / "large.tif");
    EXPECT_NE(message.find("too few ever to give"), std::string::npos) << message;

    // Strips that all point at one piece of data, each of which could fill its part:
    // together they stand for far more than the file could ever give.
    WriteFileBytes(dir / "shared.tif", SharedDataTiff(16384, 2048, 1));
    EXPECT_NE(ErrorOf(dir / "shared.tif").find("can never give the 33554432 bytes its strips"),
              std::string::npos)
        << ErrorOf(dir / "shared.tif");
    // Tiles far larger than their picture, whose buffers would take gigabytes.
    WriteFileBytes(dir / "tall.tif", SharedDataTiff(1024, 1, 0, 1, 4505600));
    EXPECT_NE(ErrorOf(dir / "tall.tif").find("tiles of 1 x 4505600 pixels are far larger"),
              std::string::npos)
        << ErrorOf(dir / "tall.tif");
    WriteFileBytes(dir / "wide.tif", SharedDataTiff(16, 1, 0, 67108864, 16));
    EXPECT_NE(ErrorOf(dir / "wide.tif").find("far larger than its picture of 16 x 1"),
              std::string::npos)
        << ErrorOf(dir / "wide.tif");
    // A few tiles larger than a small picture are what writers make: they decode.
    WriteFileBytes(dir / "small.tif", SharedDataTiff(40, 30, 0, 256, 256));
    EXPECT_EQ(ErrorOf(dir / "small.tif").find("far larger"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(PictureInput, ListsMixJpegPngAndTiff) {
    TTempDir dir;
    std::string list = "mixed\r\nformats\r\n";
    std::vector<TRawPicture> pictures;
    for (int k = 0; k < 17; ++k) {
        const std::string name = "p" + std::to_string(k);
        if (k % 3 == 0) {
            WritePatternJpeg(dir / (name + ".jpg"), 24, 10, 3, unsigned(k));
            list += name + ".jpg\r\n";
            pictures.emplace_back();
            continue;
        }
        pictures.push_back(PatternSamples(24, 10, 3, k % 2 == 0 ? 16 : 8, unsigned(k)));
        if (k % 3 == 1) {
            TPngWriteOptions options;
            options.Colour = TPngColour::Rgb;
            WritePng(dir / (name + ".png"), pictures.back(), options);
            list += name + ".png\r\n";
        } else {
            TTiffWriteOptions options;
            options.Photometric = TTiffPhotometric::Rgb;
            WriteTiff(dir / (name + ".tif"), {pictures.back()}, options);
            list += name + ".tif\r\n";
        }
    }
    WriteFileText(dir / "list.txt", list);
    TPicEval eval;
    TLoadOptions options;
    options.BaseFolder = dir.path() + "/";
    options.FullDepth = TPicEval::RefinementReads;
    const TLoadOutcome outcome = eval.LoadList(dir / "list.txt", kChannelGreen, options);
    ASSERT_TRUE(outcome.Usable) << outcome.Reason;
    for (int k = 0; k < 17; ++k) {
        SCOPED_TRACE("picture " + std::to_string(k));
        const TPic& plane = eval.Pics.Planes[std::size_t(k)];
        if (k % 3 == 0) {
            TPic jpeg;
            ASSERT_TRUE(
                LoadPlaneFromJpeg(jpeg, dir / ("p" + std::to_string(k) + ".jpg"), kChannelGreen));
            EXPECT_EQ(std::memcmp(jpeg.Data.data(), plane.Data.data(), jpeg.Data.size()), 0);
            continue;
        }
        const TRawPicture& picture = pictures[std::size_t(k)];
        TExpectation e;
        e.ColourSamples = 3;
        e.MaxValue = LargestSample(picture.Bits);
        for (std::size_t i = 0; i < 240; ++i)
            ASSERT_EQ(plane.Data.data()[i], ExpectedValue(picture, e, i, kChannelGreen)) << i;
    }
    // Picture 2 holds 16 bits: pictures 0 and 2 are kept at full depth, picture 0 (a
    // JPEG) as 257 times its values.
    ASSERT_NE(eval.Pics.DeepPlane(0), nullptr);
    ASSERT_NE(eval.Pics.DeepPlane(2), nullptr);
    EXPECT_EQ(eval.Pics.DeepPlane(1), nullptr);
    EXPECT_EQ(eval.Pics.DeepPlane(0)->Data.data()[5], 257 * eval.Pics.Planes[0].Data.data()[5]);
    EXPECT_EQ(eval.Pics.DeepPlane(2)->SourceMax, 65535u);
    EXPECT_EQ(eval.Pics.DeepPlane(2)->Data.data()[7],
              SampleToDeep(pictures[2].Values[7 * 3 + 1], 65535));
}
