// Picture sets: header and plane file layout, round trips, and what a failed load
// leaves in the stack.

#include "Errors.h"
#include "PicHolder.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// A stack whose every value tells its plane, row and column apart.
TPics MakeStack(int count, std::int32_t width, std::int32_t height) {
    TPics pics;
    pics.SetCount(count, width, height);
    for (int i = 0; i < count; ++i)
        for (std::int32_t r = 0; r < height; ++r)
            for (std::int32_t c = 0; c < width; ++c)
                pics.Planes[std::size_t(i)].Data[r][c] =
                    static_cast<std::uint8_t>(i * 31 + r * 7 + c * 3 + 1);
    return pics;
}

TBytes Values(const TPic& plane) {
    return {plane.Data.data(), plane.Data.data() + plane.Data.size()};
}

void ExpectSameStack(const TPics& expected, const TPics& actual) {
    ASSERT_EQ(expected.Count(), actual.Count());
    for (std::size_t i = 0; i < expected.Planes.size(); ++i) {
        EXPECT_EQ(expected.Planes[i].Width, actual.Planes[i].Width) << "plane " << i;
        EXPECT_EQ(expected.Planes[i].Height, actual.Planes[i].Height) << "plane " << i;
        EXPECT_EQ(Values(expected.Planes[i]), Values(actual.Planes[i])) << "plane " << i;
    }
}

#define EXPECT_MENTIONS(text, part)                                                                \
    EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

const std::string kHead = "Kelvaron bin file : 0, 1, points, 14x code pics (width, height)\r\n";
const std::string kRule = "---------------------------------------------------------------\r\n";

TEST(PicSetFile, HeaderAndPlaneBytesHaveTheStoredLayout) {
    TTempDir dir;
    TPics pics = MakeStack(2, 3, 2);
    std::copy_n(TBytes{1, 2, 3, 4, 5, 6}.begin(), 6, pics.Planes[0].Data.data());
    pics.Planes[1].SetSize(1, 2); // the header records plane 0's size only
    pics.Planes[1].Data[0][0] = 9, pics.Planes[1].Data[1][0] = 8;

    SavePicSet(pics, dir / "set1.bbf", true);
    EXPECT_EQ(ReadFileText(dir / "set1.bbf"),
              kHead + "3\r\n2\r\n" + kRule + "0_set1.bin\r\n1_set1.bin\r\n");
    EXPECT_EQ(ReadFileBytes(dir / "0_set1.bin"), (TBytes{1, 4, 2, 5, 3, 6}));
    EXPECT_EQ(ReadFileBytes(dir / "1_set1.bin"), (TBytes{9, 8}));

    SavePicSet(pics, dir / "set1.bbf", false);
    EXPECT_EQ(ReadFileText(dir / "set1.bbf"), kHead + "3\r\n2\r\n" + kRule + (dir / "0_set1.bin") +
                                                  "\r\n" + (dir / "1_set1.bin") + "\r\n");
}

// Header name as passed (relative) → header line 5 and plane 0's file.
class PicSetNaming : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(PicSetNaming, PlaneFilesAreNamedAfterTheHeader) {
    const auto& [header, planeZero] = GetParam();
    TTempDir dir;
    fs::create_directory(dir / "sub.d");
    TCurrentDir inside(dir.path());
    SavePicSet(MakeStack(1, 2, 2), header, false);
    EXPECT_EQ(ReadFileText(header), kHead + "2\r\n2\r\n" + kRule + planeZero + "\r\n");
    EXPECT_TRUE(fs::is_regular_file(planeZero));
}

INSTANTIATE_TEST_SUITE_P(, PicSetNaming,
                         testing::Values(std::pair{"set1.bbf", "0_set1.bin"},
                                         std::pair{"set1", "0_set1.bin"},
                                         std::pair{"set1.bin", "0_set1.bin"},
                                         std::pair{"my.set.bbf", "0_my.set.bin"},
                                         std::pair{"./sub.d/set", "./sub.d/0_set.bin"}));

// Sizes that cross the copy's blocks and, for the tall one, its write pieces.
class PicSetRoundTrip : public testing::TestWithParam<std::pair<std::int32_t, std::int32_t>> {};

TEST_P(PicSetRoundTrip, EveryValueComesBack) {
    TTempDir dir, elsewhere;
    const TPics saved = MakeStack(3, GetParam().first, GetParam().second);
    SavePicSet(saved, dir / "set.bbf", true);

    TPics loaded = MakeStack(1, 1, 1);
    {
        TCurrentDir inside(dir.path());
        ASSERT_TRUE(LoadPicSet(loaded, "set.bbf")) << loaded.LastError();
        ExpectSameStack(saved, loaded);
    }
    // Bare names are found through the base folder, not from anywhere else.
    TCurrentDir away(elsewhere.path());
    EXPECT_FALSE(LoadPicSet(loaded, dir / "set.bbf"));
    EXPECT_MENTIONS(loaded.LastError(), "0_set.bin");
    ASSERT_TRUE(LoadPicSet(loaded, dir / "set.bbf", dir.path())) << loaded.LastError();
    ExpectSameStack(saved, loaded);
    EXPECT_EQ(loaded.LastError(), "");
}

INSTANTIATE_TEST_SUITE_P(, PicSetRoundTrip,
                         testing::Values(std::pair{130, 70}, std::pair{3, 400000}, std::pair{1, 1},
                                         std::pair{0, 5}));

// A folder holding a set of 3 planes of 3 × 2, and a stack to load it into.
class PicSetLoad : public testing::Test {
protected:
    void SetUp() override { SavePicSet(MakeStack(3, 3, 2), dir / "set.bbf", false); }
    std::string Names() const {
        return dir / "0_set.bin" + "\r\n" + dir / "1_set.bin" + "\r\n" + dir / "2_set.bin";
    }
    TTempDir dir;
    TPics pics = MakeStack(2, 2, 1);
};

TEST_F(PicSetLoad, HeadersAsOtherProgramsWriteThemLoad) {
    std::string lf = Names();
    std::erase(lf, '\r');
    std::string cr = lf;
    std::replace(cr.begin(), cr.end(), '\n', '\r');
    for (const std::string& text : {kHead + " 3\t\r\n+02 \r\n" + kRule + Names() + "\r\n",
                                    "any title\n3\n2\nany rule\n" + lf, "\r3\r2\r\r" + cr + "\r"}) {
        WriteFileText(dir / "h.bbf", text);
        EXPECT_TRUE(LoadPicSet(pics, dir / "h.bbf")) << text << "\n" << pics.LastError();
        ExpectSameStack(MakeStack(3, 3, 2), pics);
    }
}

// A header that is a symbolic link to itself.
const std::string kLoop = "(loop)";

struct TRejected {
    const char* label;
    std::string text; // "" for no header at all
    std::string reason;
    std::size_t extraBreaks = 0; // CRs appended to text when the test runs
    bool namesHeader = true;     // whether the reason names the header
};

class PicSetRejected : public PicSetLoad, public testing::WithParamInterface<TRejected> {};

TEST_P(PicSetRejected, LeavesTheStackUnchanged) {
    const std::string header = dir / "h.bbf";
    if (GetParam().text == kLoop)
        ASSERT_EQ(::symlink("h.bbf", header.c_str()), 0);
    else if (!GetParam().text.empty())
        WriteFileText(header, GetParam().text + std::string(GetParam().extraBreaks, '\r'));
    EXPECT_FALSE(LoadPicSet(pics, header));
    ExpectSameStack(MakeStack(2, 2, 1), pics);
    EXPECT_MENTIONS(pics.LastError(), GetParam().reason);
    if (GetParam().namesHeader) {
        EXPECT_MENTIONS(pics.LastError(), header);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , PicSetRejected,
    testing::Values(
        TRejected{"Missing", "", "No such file"},
        TRejected{"ThreeLines", "t\r\n3\r\n2\r\n", "has 3 lines"},
        TRejected{"WidthNotNumber", "t\r\nabc\r\n2\r\n-\r\nx\r\n", "Line 2"},
        TRejected{"WidthEmpty", "t\r\n\r\n2\r\n-\r\nx\r\n", "Line 2"},
        TRejected{"HeightFraction", "t\r\n3\r\n2.5\r\n-\r\nx\r\n", "Line 3"},
        TRejected{"BadWidthBeforeEmptying", "t\r\nx\r\n2\r\n-\r\n", "Line 2"},
        TRejected{"NegativeHeight", "t\r\n3\r\n-1\r\n-\r\nx\r\n", "negative height"},
        TRejected{"WidthBeyondAnyInteger", "t\r\n99999999999999999999\r\n1\r\n-\r\nx\r\n",
                  "more than a plane may have"},
        TRejected{"PlaneTooLarge", "t\r\n16384\r\n16385\r\n-\r\nx\r\n", "16384 x 16385"},
        TRejected{"TooManyPlanes", "t\r\n1\r\n1\r\n-\r\n" + std::string(257, '\n'),
                  "257 plane files"},
        TRejected{"MillionsOfLines", "t\r\n1\r\n1\r\n-\r\n", "20000000 plane files", 20'000'000},
        TRejected{"TemporaryFileOfAnUnfinishedSave",
                  "t\r\n1\r\n1\r\n-\r\n0_s.bin\r\n.1_s.bin.4242-ab12cd.tmp\r\n",
                  "temporary file \".1_s.bin.4242-ab12cd.tmp\" of an unfinished save"},
        TRejected{"LoopOfLinks", kLoop, "Too many levels of symbolic links"},
        TRejected{"BeyondTheMemory", "t\r\n16384\r\n16384\r\n-\r\n", "need 64 GiB; ", 256, false}),
    [](const auto& test) { return std::string(test.param.label); });

TEST_F(PicSetLoad, FourLinesEmptyTheStack) {
    WriteFileText(dir / "h.bbf", "t\r\n3\r\n2\r\n-\r\n");
    EXPECT_FALSE(LoadPicSet(pics, dir / "h.bbf"));
    EXPECT_EQ(pics.Count(), 0);
    EXPECT_MENTIONS(pics.LastError(), "no plane file");
}

// A plane that cannot be read stops the load: the planes before it are loaded,
// it keeps what its file had, the later ones are 0, all of the header's size.
struct TPlaneFault {
    const char* label;
    void (*damage)(const TTempDir& dir);
    bool emptyLastLine;
    std::size_t failed;
    TBytes failedValues;
    std::string reason;
};

class PicSetPlaneFault : public PicSetLoad, public testing::WithParamInterface<TPlaneFault> {};

TEST_P(PicSetPlaneFault, KeepsThePlanesReadBeforeIt) {
    const TPlaneFault& fault = GetParam();
    fault.damage(dir);
    WriteFileText(dir / "h.bbf", kHead + "3\r\n2\r\n" + kRule + Names() +
                                     (fault.emptyLastLine ? "\r\n\r\n" : "\r\n"));
    EXPECT_FALSE(LoadPicSet(pics, dir / "h.bbf"));
    EXPECT_MENTIONS(pics.LastError(), fault.reason);

    const TPics full = MakeStack(3, 3, 2);
    ASSERT_EQ(pics.Count(), fault.emptyLastLine ? 4 : 3);
    for (std::size_t i = 0; i < pics.Planes.size(); ++i) {
        EXPECT_EQ(std::pair(pics.Planes[i].Width, pics.Planes[i].Height), std::pair(3, 2));
        EXPECT_EQ(Values(pics.Planes[i]), i < fault.failed    ? Values(full.Planes[i])
                                          : i == fault.failed ? fault.failedValues
                                                              : TBytes(6))
            << "plane " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , PicSetPlaneFault,
    testing::Values(
        TPlaneFault{"MissingFile", [](const TTempDir& d) { fs::remove(d / "1_set.bin"); }, false, 1,
                    TBytes(6), "line 6"},
        // A smaller plane saved into the set: its file falls short of 3 × 2.
        TPlaneFault{
            "ShortFile",
            [](const TTempDir& d) { SavePlane(MakeStack(1, 2, 2).Planes[0], d / "2_set.bin"); },
            false, 2, TBytes{1, 4, 0, 8, 11, 0}, "holds 4 bytes"},
        TPlaneFault{"EmptyNameLine", [](const TTempDir&) {}, true, 3, TBytes(6), "line 8"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST(PicSetPlane, ReadsOnlyTheBytesThePlaneTakes) {
    TTempDir dir;
    // Larger than any whole-file read allows; sparse, so it costs no disk.
    WriteFileBytes(dir / "huge.bin", {1, 2, 3, 4, 5, 6, 7});
    fs::resize_file(dir / "huge.bin", std::uintmax_t(3) << 30);
    TPic plane;
    plane.SetSize(3, 2);
    LoadPlane(plane, dir / "huge.bin");
    EXPECT_EQ(Values(plane), (TBytes{1, 3, 5, 2, 4, 6}));

    WriteFileBytes(dir / "short.bin", {7, 8, 9});
    try {
        LoadPlane(plane, dir / "short.bin");
        ADD_FAILURE() << "a short plane file loaded";
    } catch (const EFileError& e) {
        EXPECT_MENTIONS(e.what(), dir / "short.bin");
        EXPECT_MENTIONS(e.what(), "holds 3 bytes");
    }
    EXPECT_EQ(Values(plane), (TBytes{7, 9, 5, 8, 4, 6}));
}

TEST(PicSetSave, RefusesSetsThatCouldNotBeLoadedBack) {
    TTempDir dir;
    EXPECT_THROW(SavePicSet(TPics(), dir / "set.bbf", true), std::invalid_argument);
    EXPECT_THROW(SavePicSet(MakeStack(1, 1, 1), dir / "two\nlines.bbf", false),
                 std::invalid_argument);
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{});
}

TEST(PicSetSave, EveryFileIsReplacedWhole) {
    TTempDir dir;
    SavePicSet(MakeStack(3, 4, 4), dir / "set.bbf", true);
    SavePicSet(MakeStack(2, 2, 1), dir / "set.bbf", true);
    EXPECT_EQ(ReadFileBytes(dir / "1_set.bin").size(), 2u);

    // A plane file that cannot be written stops the save with its name before any
    // file is replaced, leaving nothing temporary behind.
    fs::remove(dir / "1_set.bin");
    fs::create_directory(dir / "1_set.bin");
    try {
        SavePicSet(MakeStack(2, 5, 5), dir / "set.bbf", true);
        ADD_FAILURE() << "the save succeeded";
    } catch (const EFileError& e) {
        EXPECT_MENTIONS(e.what(), "1_set.bin");
    }
    EXPECT_EQ(ListFolder(dir.path()),
              (std::vector<std::string>{"0_set.bin", "1_set.bin", "2_set.bin", "set.bbf"}));
    EXPECT_EQ(ReadFileBytes(dir / "0_set.bin").size(), 2u);
}

} // namespace
