// Picture sets: round trips, single plane files, what a plane that cannot be read
// leaves in the stack, and saves that replace every file whole or write nothing.

#include "input/PicSet.h"

#include "PicSetSupport.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "input/Pics.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

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

// A file too short for the plane, when the plane spans several bands of the read:
// the bytes it holds replace the plane's, the ones after keep their former values.
TEST(PicSetPlane, AShortFileReplacesOnlyTheBytesItHolds) {
    TTempDir dir;
    TPic plane;
    plane.SetSize(2100, 2100);
    std::fill_n(plane.Data.data(), plane.Data.size(), std::uint8_t(7));
    TBytes bytes(4'300'000); // ends inside column 2047, in the second band
    for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<std::uint8_t>(k % 251 + 1);
    WriteFileBytes(dir / "short.bin", bytes);

    EXPECT_THROW(LoadPlane(plane, dir / "missing.bin"), EFileError);
    EXPECT_EQ(plane.Data[2099][2099], 7) << "a file that cannot be opened changes nothing";
    EXPECT_THROW(LoadPlane(plane, dir / "short.bin"), EFileError);
    for (const auto& [row, col] :
         {std::pair(0, 0), std::pair(2099, 0), std::pair(1399, 2047), std::pair(1400, 2047),
          std::pair(0, 2048), std::pair(2099, 2099)}) {
        const std::size_t k = std::size_t(col) * 2100 + std::size_t(row);
        EXPECT_EQ(plane.Data[row][col], k < bytes.size() ? bytes[k] : 7)
            << "row " << row << ", column " << col;
    }
}

} // namespace
