// Picture-set headers: the layout SavePicSet writes and the plane file names it
// derives from the header's, the variants other programs write, and every header
// that cannot be used, refused with its reason and the stack left as it was.

#include "PicSetSupport.h"
#include "TestSupport.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

namespace fs = std::filesystem;

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

} // namespace
