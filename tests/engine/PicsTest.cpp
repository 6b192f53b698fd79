// The stack of planes: its planes replaced whole, its values read inside them, and
// its load from a list file, on one thread and on several.

#include "input/Pics.h"

#include "PhotoFolder.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "image/Bitmap.h"
#include "image/Plane.h"
#include "input/JpegInput.h"
#include "input/PictureRows.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWidth = TPhotoFolder::kWidth, kHeight = TPhotoFolder::kHeight;

// The plane that decoding photograph path on its own gives.
TPic Decoded(const std::string& path, std::uint8_t channel = kChannelGrey) {
    TPic plane;
    EXPECT_TRUE(LoadPlaneFromJpeg(plane, path, channel));
    return plane;
}

void ExpectSamePlane(const TPic& actual, const TPic& expected, const std::string& what) {
    ASSERT_EQ(actual.Width, expected.Width) << what;
    ASSERT_EQ(actual.Height, expected.Height) << what;
    for (std::int32_t r = 0; r < actual.Height; ++r)
        for (std::int32_t c = 0; c < actual.Width; ++c)
            ASSERT_EQ(actual.Data[r][c], expected.Data[r][c])
                << what << " row " << r << " column " << c;
}

void ExpectEmpty(const TPic& plane, const std::string& what) {
    EXPECT_EQ(plane.Width, 0) << what;
    EXPECT_EQ(plane.Height, 0) << what;
}

} // namespace

TEST(TPics, SetCountReplacesEveryPlane) {
    TPics pics;
    pics.SetCount(256, 3, 2);
    ASSERT_EQ(pics.Count(), 256);
    SetPlaneValue(pics.Planes[255], 1, 2, 7);
    EXPECT_EQ(pics.GetValue(255, 1, 2), 7);
    EXPECT_EQ(pics.GetValue(0, 1, 2), 0);

    pics.SetCount(2, 5, 1);
    ASSERT_EQ(pics.Count(), 2);
    EXPECT_EQ(pics.Planes[1].Width, 5);
    EXPECT_EQ(pics.Planes[1].Height, 1);
    EXPECT_EQ(pics.Planes[1].Data.size(), 5u);
}

TEST(TPics, ImpossibleSetCountKeepsThePlanes) {
    TPics pics;
    pics.SetCount(3, 4, 4);
    EXPECT_THROW(pics.SetCount(257, 1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(-1, 1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(2, -1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(2, 1 << 15, 1 << 14), std::invalid_argument);
    EXPECT_EQ(pics.Count(), 3);
    EXPECT_EQ(pics.Planes[2].Width, 4);
}

TEST(TPics, ValuesOutsideThePlaneOrTheStackAreZero) {
    TPics pics;
    pics.SetCount(2, 3, 3);
    SetPlaneValue(pics.Planes[1], 0, 0, 5);
    std::uint8_t value = 33;
    EXPECT_TRUE(pics.TryGetValue(1, 0, 0, value));
    EXPECT_EQ(value, 5);
    value = 33;
    EXPECT_FALSE(pics.TryGetValue(1, 3, 0, value));
    EXPECT_EQ(value, 33);
    EXPECT_FALSE(pics.TryGetValue(2, 0, 0, value)) << "plane 2 does not exist";
    EXPECT_FALSE(pics.TryGetValue(255, 0, 0, value));
    EXPECT_EQ(value, 33);
    EXPECT_EQ(pics.GetValue(1, -1, 0), 0);
    EXPECT_EQ(pics.GetValue(200, 0, 0), 0);
}

struct CheckSizeCase {
    const char* name;
    std::vector<std::pair<int, int>> planes; // width, height
    bool result;
    std::int32_t height, width; // outputs, starting from -7, -7
};

class CheckSize : public testing::TestWithParam<CheckSizeCase> {};

TEST_P(CheckSize, WritesThePlaneZeroSizeOnlyWhileNoMismatchWasMet) {
    const CheckSizeCase& c = GetParam();
    TPics pics;
    pics.SetCount(static_cast<std::int32_t>(c.planes.size()), 0, 0);
    for (std::size_t i = 0; i < c.planes.size(); ++i)
        pics.Planes[i].SetSize(c.planes[i].first, c.planes[i].second);
    std::int32_t height = -7, width = -7;
    EXPECT_EQ(pics.CheckSize(height, width), c.result);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(width, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, CheckSize,
    testing::Values(
        CheckSizeCase{"AllAlike", {{640, 480}, {640, 480}, {640, 480}}, true, 480, 640},
        CheckSizeCase{"OnePlane", {{640, 480}}, true, -7, -7},
        CheckSizeCase{"NoPlane", {}, true, -7, -7},
        CheckSizeCase{"LaterPlaneDiffers", {{640, 480}, {640, 480}, {320, 240}}, false, 480, 640},
        CheckSizeCase{"SecondPlaneDiffers", {{640, 480}, {320, 240}, {640, 480}}, false, -7, -7},
        CheckSizeCase{"OnlyHeightDiffers", {{640, 480}, {640, 479}}, false, -7, -7}),
    [](const testing::TestParamInfo<CheckSizeCase>& param) { return param.param.name; });

TEST(TPics, ShowPictureDrawsThePlaneAsGreyAndNothingElse) {
    TPics pics;
    pics.SetCount(1, 3, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            SetPlaneValue(pics.Planes[0], r, c, 0x80);

    TBitmap larger(5, 4);
    std::fill(larger.Bits(), larger.Bits() + larger.BytesPerLine() * 4, 0x11);
    pics.ShowPicture(0, larger);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(larger.ScanLine(r)[3 * c + k], r < 2 && c < 3 ? 0x80 : 0x11)
                    << "row " << r << " column " << c;

    TBitmap smaller(2, 1);
    pics.ShowPicture(0, smaller); // the plane beyond the bitmap is not drawn
    EXPECT_EQ(smaller.ScanLine(0)[5], 0x80);

    TBitmap grey(3, 2, TPixelFormat::pf8bit);
    pics.ShowPicture(0, grey);
    EXPECT_EQ(grey.ScanLine(0)[0], 0) << "an 8-bit bitmap stays unchanged";

    TBitmap untouched(3, 2);
    pics.ShowPicture(1, untouched); // no such plane
    pics.ShowPicture(255, untouched);
    EXPECT_EQ(untouched.ScanLine(1)[8], 0);
}

TEST(LoadFromList, SeventeenPhotographsGiveSeventeenPlanesInListOrder) {
    TPhotoFolder folder(17);
    std::vector<std::string> names = folder.Photos(17);
    std::swap(names[0], names[16]); // plane order is list order, not name order
    TPics pics;
    ASSERT_TRUE(pics.LoadFromList(folder.List(names), false, kChannelRed));
    EXPECT_TRUE(pics.LastError().empty());
    ASSERT_EQ(pics.Count(), 17);
    for (int i = 0; i < 17; ++i)
        ExpectSamePlane(pics.Planes[std::size_t(i)], Decoded(names[std::size_t(i)], kChannelRed),
                        "plane " + std::to_string(i));
    std::int32_t height = 0, width = 0;
    EXPECT_TRUE(pics.CheckSize(height, width));
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
}

TEST(LoadFromList, LineEndingsAndTheTwoHeaderLines) {
    TPhotoFolder folder(3);
    // The two header lines are never read, even when they name photographs.
    WriteFileText(folder.dir / "header.txt",
                  folder.Photo(0) + "\n" + folder.Photo(1) + "\n" + folder.Photo(2) + "\n");
    TPics pics;
    EXPECT_TRUE(pics.LoadFromList(folder.dir / "header.txt", false, 0));
    EXPECT_EQ(pics.Count(), 1);

    for (const char* lineEnd : {"\r\n", "\n", "\r"}) {
        EXPECT_TRUE(pics.LoadFromList(folder.List(folder.Photos(3), lineEnd), false, 0)) << lineEnd;
        EXPECT_EQ(pics.Count(), 3);
    }
    // A second break at the end is one more line: an empty name, which loads nothing.
    std::string list = folder.List(folder.Photos(3));
    WriteFileText(list, ReadFileText(list) + "\r\n");
    EXPECT_FALSE(pics.LoadFromList(list, false, 0));
    ASSERT_EQ(pics.Count(), 4);
    ExpectEmpty(pics.Planes[3], "plane of the empty line");
    ExpectSamePlane(pics.Planes[2], Decoded(folder.Photo(2), 0), "plane 2");
}

TEST(LoadFromList, MissingPhotographsLeaveTheirPlanesEmptyAndAreNamed) {
    TPhotoFolder folder(4);
    ::mkdir((folder.dir / "a-folder.jpg").c_str(), 0755);
    std::vector<std::string> names = folder.Photos(4);
    names[1] = folder.dir / "missing.jpg";
    names.push_back(folder.dir / "a-folder.jpg");
    TPics pics;
    EXPECT_FALSE(pics.LoadFromList(folder.List(names), false, kChannelGrey));
    ASSERT_EQ(pics.Count(), 5);
    ExpectEmpty(pics.Planes[1], "missing photograph");
    ExpectEmpty(pics.Planes[4], "folder");
    ExpectSamePlane(pics.Planes[3], Decoded(folder.Photo(3)), "plane after the missing one");
    EXPECT_NE(pics.LastError().find("line 4 \"" + names[1] + "\""), std::string::npos)
        << pics.LastError();
    EXPECT_NE(pics.LastError().find("line 7"), std::string::npos) << pics.LastError();

    // Hundreds of missing names, each with a terminal's escape sequence: a few are
    // named, escaped, and the rest counted.
    std::vector<std::string> missing(200, folder.dir / "gone\x1b[31m.jpg");
    EXPECT_FALSE(pics.LoadFromList(folder.List(missing), false, kChannelGrey));
    EXPECT_LT(pics.LastError().size(), 1000u) << pics.LastError();
    EXPECT_EQ(pics.LastError().find('\x1b'), std::string::npos);
    EXPECT_NE(pics.LastError().find("gone\\x1b[31m.jpg\""), std::string::npos) << pics.LastError();
    EXPECT_NE(pics.LastError().find("and 195 more."), std::string::npos) << pics.LastError();
}

TEST(LoadFromList, UnusableListFilesKeepTheFormerPlanes) {
    TPhotoFolder folder(3);
    TPics pics;
    ASSERT_TRUE(pics.LoadFromList(folder.List(folder.Photos(3)), false, 0));

    std::string tooShort = folder.dir / "short.txt";
    WriteFileText(tooShort, "one\r\ntwo\r\n");
    std::string tooLong = folder.dir / "long.txt";
    std::string text = "a\r\nb\r\n";
    for (int i = 0; i < 257; ++i)
        text += folder.Photo(0) + "\r\n";
    WriteFileText(tooLong, text);

    // A photograph picked as the list, a loop of links, then hundreds of lines
    // naming a picture of 16384 x 16384 (which needs far more memory than there is).
    std::string photograph = folder.Photo(0);
    std::string loop = folder.dir / "loop.txt";
    ASSERT_EQ(::symlink("loop.txt", loop.c_str()), 0);
    WriteFileBytes(folder.dir / "huge.jpg", TinyJpegHeader(16384, 16384));
    std::string huge = folder.dir / "huge.txt";
    text = "a\r\nb\r\n";
    for (int i = 0; i < 256; ++i)
        text += folder.dir / "huge.jpg\r\n";
    WriteFileText(huge, text);

    const std::pair<std::string, const char*> cases[] = {
        {folder.dir / "missing.txt", "does not exist"},
        {folder.dir.path(), "does not exist"},
        {tooShort, "has 2 lines"},
        {tooLong, "has 259 lines"},
        {photograph, "is not a list file"},
        {loop, "Too many levels of symbolic links"},
        {huge, "The 256 pictures of 16384 x 16384 need 64 GiB; "},
    };
    for (const auto& [list, message] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(pics.LoadFromList(list, false, 0)) << list;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << list;
        EXPECT_NE(pics.LastError().find(message), std::string::npos) << pics.LastError();
        if (list != huge) {
            EXPECT_NE(pics.LastError().find(list), std::string::npos) << pics.LastError();
        }
        EXPECT_LT(pics.LastError().size(), 1000u);
        ASSERT_EQ(pics.Count(), 3) << list;
        ExpectSamePlane(pics.Planes[2], Decoded(folder.Photo(2), 0), list);
    }
}

TEST(LoadFromList, ADamagedPhotographStopsTheLoadWhereItStands) {
    TPhotoFolder folder(5);
    WriteFileText(folder.Photo(2), "damaged");
    TPics pics;
    try {
        pics.LoadFromList(folder.List(folder.Photos(5)), false, 0);
        FAIL() << "a damaged photograph must raise";
    } catch (const EJpegError& e) {
        EXPECT_NE(std::string(e.what()).find(folder.Photo(2)), std::string::npos) << e.what();
    }
    ASSERT_EQ(pics.Count(), 5);
    ExpectSamePlane(pics.Planes[1], Decoded(folder.Photo(1), 0), "plane before the damage");
    ExpectEmpty(pics.Planes[2], "damaged plane");
    ExpectEmpty(pics.Planes[3], "plane after the damage");
    ExpectEmpty(pics.Planes[4], "last plane");
}

TEST(LoadFromList, PlanesNotKeptTakeTheirSizeAndTheSameErrorsButNoValues) {
    // Taller than a row of blocks, so that rows are passed over.
    TPhotoFolder folder(0);
    for (int i = 0; i < 4; ++i)
        WritePatternJpeg(folder.Photo(i), 40, 70, i == 3 ? 1 : 3, unsigned(i + 1), i != 1);
    TLoadOptions options;
    options.Keep = [](std::int32_t plane) { return plane == 2; };
    TPics pics;
    ASSERT_TRUE(pics.LoadFromList(folder.List(folder.Photos(4)), false, kChannelGrey, options));
    ExpectSamePlane(pics.Planes[2], Decoded(folder.Photo(2)), "kept plane");
    for (int i : {0, 1, 3}) {
        TPic zero;
        zero.SetSize(40, 70);
        ExpectSamePlane(pics.Planes[std::size_t(i)], zero, "plane " + std::to_string(i));
    }

    // A photograph cut short fails whether its plane is kept or not, with one message.
    std::vector<std::uint8_t> bytes = ReadFileBytes(folder.Photo(1));
    bytes.resize(bytes.size() / 2);
    WriteFileBytes(folder.Photo(1), bytes);
    std::string messages[2];
    for (int keepAll = 0; keepAll < 2; ++keepAll) {
        TLoadOptions some = options;
        if (keepAll)
            some.Keep = nullptr;
        try {
            pics.LoadFromList(folder.List(folder.Photos(4)), false, kChannelGrey, some);
            ADD_FAILURE() << "a photograph cut short must raise";
        } catch (const EJpegError& e) {
            messages[keepAll] = e.what();
        }
    }
    EXPECT_NE(messages[0].find(folder.Photo(1)), std::string::npos) << messages[0];
    EXPECT_EQ(messages[0], messages[1]);
}

TEST(LoadFromList, RelativeNamesResolveAgainstTheCurrentDirectoryOrAGivenFolder) {
    TPhotoFolder folder(2);
    TTempDir elsewhere;
    std::string list = folder.List({"p0.jpg", "p1.jpg"});
    TPics pics;
    {
        TCurrentDir cwd(elsewhere.path());
        EXPECT_FALSE(pics.LoadFromList(list, false, 0))
            << "bare names are looked up in the current directory";
        TLoadOptions options;
        options.BaseFolder = folder.dir.path();
        EXPECT_TRUE(pics.LoadFromList(list, false, 0, options));
    }
    {
        TCurrentDir cwd(folder.dir.path());
        EXPECT_TRUE(pics.LoadFromList(list, false, 0));
        // With names only, the folder a line names is ignored.
        std::string other =
            folder.List({"/nowhere/p0.jpg", elsewhere / "p1.jpg"}, "\r\n", "other.txt");
        EXPECT_TRUE(pics.LoadFromList(other, true, 0));
        EXPECT_FALSE(pics.LoadFromList(other, false, 0));
    }
}

// Decoding on several threads must give exactly what decoding one by one gives:
// the same planes, result, reason, raised error and progress.
class ParallelLoad : public testing::TestWithParam<int> {};

TEST_P(ParallelLoad, GivesTheResultsOfTheSequentialLoad) {
    TPhotoFolder folder(9);
    WriteFileText(folder.dir / "damaged.jpg", "no picture");
    struct TOutcome {
        bool Result = false;
        std::string Error, LastError;
        std::vector<std::int32_t> Progress;
        TPics Pics;
    };
    auto load = [&](const std::vector<std::string>& names, int threads) {
        TOutcome outcome;
        TLoadOptions options;
        options.Threads = threads;
        options.Progress = [&](std::int32_t plane, const std::string&) {
            outcome.Progress.push_back(plane);
        };
        try {
            outcome.Result =
                outcome.Pics.LoadFromList(folder.List(names), false, kChannelGrey, options);
        } catch (const std::exception& e) {
            outcome.Error = e.what();
        }
        outcome.LastError = outcome.Pics.LastError();
        return outcome;
    };
    std::vector<std::string> withMissing = folder.Photos(9);
    withMissing[3] = folder.dir / "gone.jpg";
    withMissing[7] = "";
    std::vector<std::string> withDamage = folder.Photos(9);
    withDamage[2] = folder.dir / "gone.jpg";
    withDamage[5] = folder.dir / "damaged.jpg";
    withDamage[6] = folder.dir / "damaged.jpg";

    for (const auto& names : {folder.Photos(9), withMissing, withDamage}) {
        const TOutcome one = load(names, 1);
        const TOutcome many = load(names, GetParam());
        EXPECT_EQ(many.Result, one.Result);
        EXPECT_EQ(many.Error, one.Error);
        EXPECT_EQ(many.LastError, one.LastError);
        EXPECT_EQ(many.Progress, one.Progress) << "progress comes in plane order";
        ASSERT_EQ(many.Pics.Count(), one.Pics.Count());
        for (std::size_t i = 0; i < one.Pics.Planes.size(); ++i)
            ExpectSamePlane(many.Pics.Planes[i], one.Pics.Planes[i], "plane " + std::to_string(i));
    }
    // The damaged stack: planes before the first damaged one loaded, the rest empty.
    const TOutcome damaged = load(withDamage, GetParam());
    EXPECT_NE(damaged.Error.find("damaged.jpg"), std::string::npos) << damaged.Error;
    EXPECT_EQ(damaged.Progress, (std::vector<std::int32_t>{0, 1, 3, 4}));
    ExpectSamePlane(damaged.Pics.Planes[4], Decoded(folder.Photo(4)), "plane 4");
    for (std::size_t i = 5; i < 9; ++i)
        ExpectEmpty(damaged.Pics.Planes[i], "plane " + std::to_string(i));
}

INSTANTIATE_TEST_SUITE_P(Threads, ParallelLoad, testing::Values(2, 4, 16));
