// The sections of the report page: the picture scaled down and embedded as a JPEG,
// the pose's name escaped, the points' data and marks, the legend and the histograms.

#include "ReportSupport.h"
#include "decode/Points.h"
#include "image/Plane.h"
#include "input/JpegInput.h"
#include "output/Report.h"
#include "refine/Refine.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The value of the first attribute name="…" in html from position from on.
std::string Attribute(const std::string& html, const std::string& name, std::size_t from = 0) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = html.find(key, from);
    if (at == std::string::npos)
        return "(no " + name + ")";
    const std::size_t begin = at + key.size();
    return html.substr(begin, html.find('"', begin) - begin);
}

std::vector<std::uint8_t> FromBase64(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0, held = 0;
    for (std::size_t i = 0; i < text.size() && text[i] != '='; ++i) {
        bits = bits << 6 | std::uint32_t(digits.find(text[i]));
        if ((held += 6) >= 8)
            bytes.push_back(std::uint8_t(bits >> (held -= 8)));
    }
    return bytes;
}

// One point as a section's data gives it to the script.
struct TShownPoint {
    double X, Y;
    int Count, Mark;
};

std::vector<TShownPoint> ShownPoints(const std::string& section) {
    const double unit = std::stod(Attribute(section, "data-unit"));
    const std::vector<std::uint8_t> bytes = FromBase64(Attribute(section, "data-points"));
    EXPECT_EQ(bytes.size() % 7, 0u);
    std::vector<TShownPoint> points;
    for (std::size_t o = 0; o + 7 <= bytes.size(); o += 7)
        points.push_back({(bytes[o] | bytes[o + 1] << 8) / unit,
                          (bytes[o + 2] | bytes[o + 3] << 8) / unit,
                          bytes[o + 4] | bytes[o + 5] << 8, bytes[o + 6]});
    return points;
}

} // namespace

TEST(ReportPicture, ScalingDownRoundsEveryMeanExactlyOnAnyNumberOfThreads) {
    const TPic plane = Plane(803, 611, 7);
    for (std::int32_t step : {1, 2, 3, 4, 5, 7}) {
        const TPic one = ScalePlaneDown(plane, step, 1), three = ScalePlaneDown(plane, step, 3);
        ASSERT_EQ(one.Width, (803 + step - 1) / step);
        ASSERT_EQ(one.Height, (611 + step - 1) / step);
        int wrong = 0; // the squares cut by the border average the pixels they hold
        for (std::int32_t row = 0; row < one.Height; ++row)
            for (std::int32_t col = 0; col < one.Width; ++col) {
                std::uint32_t sum = 0, count = 0;
                for (std::int32_t y = row * step; y < std::min(611, (row + 1) * step); ++y)
                    for (std::int32_t x = col * step; x < std::min(803, (col + 1) * step);
                         ++x, ++count)
                        sum += plane.Data[y][x];
                wrong += one.Data[row][col] != (sum + count / 2) / count;
                wrong += three.Data[row][col] != one.Data[row][col];
            }
        EXPECT_EQ(wrong, 0) << "step " << step;
    }
    EXPECT_THROW(ScalePlaneDown(plane, 0), std::invalid_argument);
    EXPECT_EQ(ReportPictureStep(kReportPictureMax, 1800), 1);
    EXPECT_EQ(ReportPictureStep(4000, 3000), 2);
    EXPECT_EQ(ReportPictureStep(1000, 8000), 4);
}

TEST(ReportSection, EmbedsPictureTwoScaledDownAsAJpeg) {
    const TPic lit = Plane(2 * kReportPictureMax + 10, 60, 5);
    const std::string section = ReportSection("wide", lit, TUniquePoints{}, {}, 2);
    EXPECT_EQ(Attribute(section, "data-step"), "3");
    const std::string source = Attribute(section, "src"), prefix = "data:image/jpeg;base64,";
    ASSERT_EQ(source.substr(0, prefix.size()), prefix);
    const std::vector<std::uint8_t> jpeg = FromBase64(source.substr(prefix.size()));
    TPic decoded;
    DecodeJpegPlane(decoded, jpeg.data(), jpeg.size(), "the section's picture", 0);
    EXPECT_EQ(decoded.Width, (lit.Width + 2) / 3);
    EXPECT_EQ(decoded.Height, 20);
    EXPECT_EQ(Attribute(section, "style", section.find("<figure")),
              "width:" + std::to_string(kReportShownMax) + "px");
}

TEST(ReportSection, EscapesThePoseNameWhereverItIsShown) {
    TUniquePoints points;
    points.AddPixel(5, 4, 4);
    points.CalcCentres();
    const std::string pose =
        "<img src=x onerror=alert(1)> & \"q\" 'a' <!-- end of pose section -->";
    const std::string section = ReportSection(pose, Plane(40, 30, 1), points, {});
    EXPECT_EQ(section.find("<img src=x"), std::string::npos);
    EXPECT_EQ(section.find("\"q\""), std::string::npos);
    EXPECT_EQ(section.find("<!--"), std::string::npos);
    EXPECT_EQ(Attribute(section, "data-pose"), EscapeHtml(pose));
    EXPECT_NE(section.find("<h2>" + EscapeHtml(pose) + "</h2>"), std::string::npos);
}

TEST(ReportSection, MarksEveryPointByItsFlagsOrWithoutThemByItsSize) {
    // ok; border; neighbour and border; one pixel, unrefined; unrefined and border.
    const std::uint32_t flags[] = {0, kRefineBorder, kRefineNeighbour | kRefineBorder, kRefineNone,
                                   kRefineNone | kRefineBorder};
    const int sides[] = {3, 3, 2, 1, 4};
    TUniquePoints points;
    for (int i = 0; i < 5; ++i)
        for (int p = 0; p < sides[i] * sides[i]; ++p)
            points.AddPixel(2 * i + 1, 12 * i + p % sides[i], 7 + 5 * i + p / sides[i]);
    points.CalcCentres();
    std::vector<TRefinedPoint> refined(5);
    for (std::size_t i = 0; i < refined.size(); ++i) {
        refined[i].X = points.Entries[i].X + 0.3;
        refined[i].Y = points.Entries[i].Y - 0.4;
        refined[i].Flags = flags[i];
    }
    const std::string section = ReportSection("pose", Plane(70, 50, 2), points, refined);

    const std::vector<TShownPoint> shown = ShownPoints(section);
    ASSERT_EQ(shown.size(), 5u);
    const int marks[] = {0, 1, 2, 3 | 8, 3}; // the class, 8 for a point of one or two pixels
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_NEAR(shown[i].X, points.Entries[i].X, 1.0 / 16) << i;
        EXPECT_NEAR(shown[i].Y, points.Entries[i].Y, 1.0 / 16) << i;
        EXPECT_EQ(shown[i].Count, points.Entries[i].PixelCount) << i;
        EXPECT_EQ(shown[i].Mark, marks[i]) << i;
    }
    for (const char* item : {"ok <b>1</b>", "border <b>1</b>", "neighbour <b>1</b>",
                             "unrefined <b>2</b>", "(square) <b>1</b>", "<b>4</b> flagged"})
        EXPECT_NE(section.find(item), std::string::npos) << item;
    EXPECT_EQ(Occurrences(section, "<svg"), 4u);
    // The shift plot counts the three refined points, each moved by 0.5 pixels.
    EXPECT_NE(section.find("median 0.50 · 3 points"), std::string::npos);
    EXPECT_THROW(ReportSection("pose", Plane(70, 50, 2), points, std::vector<TRefinedPoint>(4)),
                 std::invalid_argument);

    // Without refinement: one colour, the square for the one-pixel point, one plot.
    const std::string plain = ReportSection("plain", Plane(70, 50, 2), points, {});
    const std::vector<TShownPoint> plainShown = ShownPoints(plain);
    ASSERT_EQ(plainShown.size(), 5u);
    for (std::size_t i = 0; i < plainShown.size(); ++i)
        EXPECT_EQ(plainShown[i].Mark, i == 3 ? 4 | 8 : 4) << i;
    EXPECT_NE(plain.find("not refined"), std::string::npos);
    EXPECT_EQ(Occurrences(plain, "<svg"), 1u); // the points' sizes only
    EXPECT_EQ(plain.find("Contrast"), std::string::npos);
}

TEST(ReportSection, HistogramsCountEveryPointOnceAndSetFarValuesApart) {
    TUniquePoints points;
    for (std::int32_t i = 0; i < 201; ++i)
        points.AddPixel(2 * i + 1, i % 60, i / 60);
    points.CalcCentres();
    std::vector<TRefinedPoint> refined(201);
    for (std::size_t i = 0; i < refined.size(); ++i)
        refined[i].BlobPixels = i < 200 ? 20 + int(i % 20) : 5000;
    const std::string section = ReportSection("pose", Plane(64, 8, 3), points, refined);
    // The bars' tooltips of the main blob's plot: bins of 2 up to 39, then the far one.
    const std::size_t plot = section.find(">Main blob</text>"), end = section.find("</svg>", plot);
    std::vector<std::string> bars;
    for (std::size_t at = section.find("<title>", plot); at < end;
         at = section.find("<title>", at + 1))
        bars.push_back(section.substr(at + 7, section.find('<', at + 7) - at - 7));
    ASSERT_EQ(bars.size(), 21u);
    EXPECT_EQ(bars[0], "0–1 pixels: 0");
    EXPECT_EQ(bars[10], "20–21 pixels: 20");
    EXPECT_EQ(bars[19], "38–39 pixels: 20");
    EXPECT_EQ(bars[20], "≥ 40 pixels: 1");
}

TEST(ReportSection, APoseWithoutPointsOrWithoutAPictureStillHasASection) {
    const std::string empty = ReportSection("empty", Plane(64, 48, 4), TUniquePoints{}, {});
    EXPECT_EQ(Attribute(empty, "data-points"), "");
    EXPECT_NE(empty.find("<b>0</b> points"), std::string::npos);
    EXPECT_NE(empty.find("no points"), std::string::npos);
    EXPECT_EQ(Occurrences(empty, "<img"), 1u);
    const std::string blank = ReportSection("blank", TPic{}, TUniquePoints{}, {});
    EXPECT_EQ(Occurrences(blank, "<img"), 0u);
}
