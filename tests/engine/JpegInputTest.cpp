#include "PicHolder.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "output/JpegWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sstream>

namespace {

// A picture as an independent decoder prints it.
struct TPnm {
    int Width = 0, Height = 0, Components = 0;
    std::vector<std::uint8_t> Pixels;
};

bool HaveDjpeg() {
    return std::system("djpeg -version >/dev/null 2>&1") == 0;
}

TPnm DecodeWithDjpeg(const std::string& path) {
    TPnm pnm;
    std::string command = "djpeg -pnm '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return pnm;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    ::pclose(pipe);
    // "P5" or "P6", width, height, maxval, one whitespace byte, then the samples.
    std::string head(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 64));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    in >> magic >> pnm.Width >> pnm.Height >> maxval;
    pnm.Components = magic == "P6" ? 3 : 1;
    auto offset = static_cast<std::size_t>(in.tellg()) + 1;
    pnm.Pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
    return pnm;
}

std::string ErrorOf(const std::string& path, TPic& plane) {
    try {
        LoadPlaneFromJpeg(plane, path, kChannelGrey);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

std::vector<std::uint8_t> SmallJpeg(int components = 3) {
    std::vector<std::uint8_t> pixels = PatternPixels(40, 30, components, 5);
    return EncodeJpeg(40, 30, components, pixels.data());
}

void PutBE16(std::vector<std::uint8_t>& bytes, std::size_t at, int value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

struct DecodeCase {
    const char* name;
    int width, height, components;
    bool subsample420, progressive;
};

class MatchesDjpeg : public testing::TestWithParam<DecodeCase> {};

} // namespace

TEST_P(MatchesDjpeg, EveryChannelEqualsTheIndependentDecoder) {
    if (!HaveDjpeg())
        GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";
    const DecodeCase& c = GetParam();
    TTempDir dir;
    std::string path = dir / "picture.jpg";
    WritePatternJpeg(path, c.width, c.height, c.components, 3, c.subsample420, c.progressive);
    TPnm reference = DecodeWithDjpeg(path);
    ASSERT_EQ(reference.Width, c.width);
    ASSERT_EQ(reference.Height, c.height);
    ASSERT_EQ(reference.Pixels.size(),
              std::size_t(c.width) * std::size_t(c.height) * std::size_t(reference.Components));

    for (int channelNumber : {0, 1, 2, 3, 7}) {
        auto channel = static_cast<std::uint8_t>(channelNumber);
        TPic plane;
        ASSERT_TRUE(LoadPlaneFromJpeg(plane, path, channel));
        ASSERT_EQ(plane.Width, c.width);
        ASSERT_EQ(plane.Height, c.height);
        for (int r = 0; r < c.height; ++r)
            for (int col = 0; col < c.width; ++col) {
                const std::uint8_t* p =
                    &reference.Pixels[(std::size_t(r) * std::size_t(c.width) + std::size_t(col)) *
                                      std::size_t(reference.Components)];
                std::uint8_t expected = p[0]; // greyscale: the grey value for every channel
                if (reference.Components == 3)
                    expected = channel <= 2 ? p[channel] : GreyValue(p[0], p[1], p[2]);
                ASSERT_EQ(plane.Data[r][col], expected)
                    << "channel " << int(channel) << " row " << r << " column " << col;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Photographs, MatchesDjpeg,
                         testing::Values(DecodeCase{"Colour420", 37, 23, 3, true, false},
                                         DecodeCase{"Colour444", 37, 23, 3, false, false},
                                         DecodeCase{"Greyscale", 37, 23, 1, true, false},
                                         DecodeCase{"ProgressiveColour", 64, 48, 3, true, true},
                                         DecodeCase{"OnePixel", 1, 1, 3, true, false},
                                         DecodeCase{"WideStrip", 301, 2, 3, true, false}),
                         [](const testing::TestParamInfo<DecodeCase>& param) {
                             return param.param.name;
                         });

TEST(LoadPlaneFromJpeg, MissingFilesFoldersAndEmptyNamesGiveFalse) {
    TTempDir dir;
    TPic plane;
    plane.SetSize(2, 2);
    EXPECT_FALSE(LoadPlaneFromJpeg(plane, dir / "missing.jpg", 0));
    EXPECT_FALSE(LoadPlaneFromJpeg(plane, dir.path(), 0));
    EXPECT_FALSE(LoadPlaneFromJpeg(plane, "", 0));
    EXPECT_EQ(plane.Width, 2) << "the plane is left as it was";
}

TEST(LoadPlaneFromJpeg, BadFilesRaiseAnErrorNamingTheFileAndKeepThePlane) {
    TTempDir dir;
    std::vector<std::uint8_t> good = SmallJpeg();

    std::vector<std::uint8_t> truncated(good.begin(),
                                        good.begin() + std::ptrdiff_t(good.size() / 2));
    // Extra bytes before the end-of-image marker: damage libjpeg only warns about.
    std::vector<std::uint8_t> extraneous(good.begin(), good.end() - 2);
    extraneous.insert(extraneous.end(), {0x12, 0x34, 0x56, 0xFF, 0xD9});
    std::vector<std::uint8_t> cmyk = SmallJpeg(4);
    // The frame header claims 20000 × 20000 pixels: more than a plane may hold.
    std::vector<std::uint8_t> huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            PutBE16(huge, i + 5, 20000);
            PutBE16(huge, i + 7, 20000);
            break;
        }

    const struct {
        const char* file;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"text.jpg", {'h', 'e', 'l', 'l', 'o', '\n'}, "Not a JPEG file"},
        {"empty.jpg", {}, "Empty input file"},
        {"truncated.jpg", truncated, "Premature end"},
        {"extraneous.jpg", extraneous, "extraneous bytes"},
        {"cmyk.jpg", cmyk, "colour space"},
        {"huge.jpg", huge, "20000 x 20000"},
    };
    for (const auto& c : cases) {
        std::string path = dir / c.file;
        WriteFileBytes(path, c.bytes);
        TPic plane;
        plane.SetSize(3, 1);
        plane.Data[0][0] = 9;
        std::string message = ErrorOf(path, plane);
        EXPECT_NE(message.find(path), std::string::npos) << c.file << ": " << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.file << ": " << message;
        EXPECT_EQ(plane.Width, 3) << c.file;
        EXPECT_EQ(plane.Data[0][0], 9) << c.file;
    }
}

TEST(LoadPlaneFromJpeg, DecoderErrorsAreEJpegErrorAndReadErrorsEFileError) {
    TTempDir dir;
    WriteFileText(dir / "text.jpg", "not a picture");
    TPic plane;
    EXPECT_THROW(LoadPlaneFromJpeg(plane, dir / "text.jpg", 0), EJpegError);
    EXPECT_THROW(LoadPlaneFromJpeg(plane, "/dev/null", 0), EFileError) << "not a regular file";
}

namespace {

// Encodes pattern pixels with the brightness sampled h × v times as finely as the
// colour (4:4:4 is 1 × 1, 4:2:2 is 2 × 1, 4:1:1 is 4 × 1), or progressive.
std::vector<std::uint8_t> JpegWithSampling(int width, int height, int h, int v,
                                           bool progressive = false) {
    const std::vector<std::uint8_t> pixels = PatternPixels(width, height, 3, 17);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = v;
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto row = const_cast<JSAMPROW>(&pixels[std::size_t(cinfo.next_scanline) * 3 * width]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return bytes;
}

// Keeps the rows it is handed; needs, of the first 16 rows of every 48, the odd ones
// and those a multiple of 5, and notes whether it was asked for bands of more than
// one row.
class TPatchySink final : public TPictureRowSink {
public:
    static bool NeededAlone(std::int32_t row) {
        return row % 48 < 16 && (row % 2 == 1 || row % 5 == 0);
    }
    void Begin(const TPictureLayout& layout) override {
        Plane.SetSize(layout.Width, layout.Height);
        Made.assign(std::size_t(layout.Height), 0);
    }
    bool Needed(std::int32_t first, std::int32_t count) override {
        AskedForBands = AskedForBands || count > 1;
        bool any = false;
        for (std::int32_t row = first; row < first + count; ++row)
            any = any || NeededAlone(row);
        return any;
    }
    bool AskedForBands = false;
    std::uint8_t* RowBuffer(std::int32_t row) override { return Plane.Data[row]; }
    void RowDone(std::int32_t row) override { Made[std::size_t(row)] = 1; }
    TPic Plane;
    std::vector<char> Made;
};

} // namespace

TEST(DecodeJpegRows, PassesOverRowsOfEveryUsualLayoutAndMakesTheOthersAsTheWholeDecoding) {
    TTempDir dir;
    const struct {
        const char* name;
        int h, v;
        bool progressive, skips;
    } layouts[] = {
        {"4:4:4", 1, 1, false, true},  {"4:2:0", 2, 2, false, true},
        {"4:2:2", 2, 1, false, true},  {"4:4:0", 1, 2, false, true},
        {"4:1:1", 4, 1, false, true},  {"4:2:0 progressive", 2, 2, true, false},
        {"2 x 4", 2, 4, false, false},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::string file = dir / "layout.jpg";
        WriteFileBytes(file, JpegWithSampling(203, 157, layout.h, layout.v, layout.progressive));
        TPic whole;
        ASSERT_TRUE(LoadPlaneFromJpeg(whole, file, kChannelGrey));
        for (std::uint8_t channel : {kChannelRed, kChannelGrey}) {
            ASSERT_TRUE(LoadPlaneFromJpeg(whole, file, channel));
            TPatchySink sink;
            const TInputFile input(file);
            DecodeJpegRows(input, file, channel, sink);
            // Bands are passed over only where the layout allows; on every layout
            // exactly the rows needed one by one are handed over, as the whole
            // decoding makes them.
            EXPECT_EQ(sink.AskedForBands, layout.skips);
            for (std::int32_t row = 0; row < whole.Height; ++row) {
                ASSERT_EQ(sink.Made[std::size_t(row)] != 0, TPatchySink::NeededAlone(row))
                    << "row " << row;
                if (!sink.Made[std::size_t(row)])
                    continue;
                ASSERT_EQ(
                    std::memcmp(sink.Plane.Data[row], whole.Data[row], std::size_t(whole.Width)), 0)
                    << "row " << row << " differs from the whole decoding";
            }
        }
    }
}
