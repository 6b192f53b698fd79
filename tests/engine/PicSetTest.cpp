// Picture sets: header and plane file layout, round trips, and what a failed load
// leaves in the stack, on one thread and on several.

#include "base/Errors.h"
#include "PicHolder.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// A stack of count planes whose value at (plane, row, column) is valueOf of them.
template <class TValueOf>
TPics StackOf(int count, std::int32_t width, std::int32_t height, TValueOf valueOf) {
    TPics pics;
    pics.SetCount(count, width, height);
    for (int i = 0; i < count; ++i)
        for (std::int32_t r = 0; r < height; ++r)
            for (std::int32_t c = 0; c < width; ++c)
                pics.Planes[std::size_t(i)].Data[r][c] =
                    valueOf(std::size_t(i), std::size_t(r), std::size_t(c));
    return pics;
}

// A stack whose every value tells its plane, row and column apart.
TPics MakeStack(int count, std::int32_t width, std::int32_t height) {
    return StackOf(count, width, height, [](std::size_t i, std::size_t r, std::size_t c) {
        return static_cast<std::uint8_t>(i * 31 + r * 7 + c * 3 + 1);
    });
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

// ---------------------------------------------------------------------------
// Loads on several threads. A plane is read in bands that any thread may take,
// several planes at once; whatever the number of threads, a load gives what
// reading the planes one after another gives: the same planes, the same reason,
// the same sources, progress in plane order.

// A value with no short period along rows, columns or planes, so that a byte that
// lands one row, one column, one chunk or one plane off shows.
std::uint8_t Scrambled(std::size_t plane, std::size_t row, std::size_t col) {
    std::uint32_t v = std::uint32_t(row) * 2654435761u ^ std::uint32_t(col) * 2246822519u ^
                      std::uint32_t(plane) * 3266489917u;
    v ^= v >> 15;
    return static_cast<std::uint8_t>((v * 668265263u) >> 24);
}

TPics ScrambledStack(int count, std::int32_t width, std::int32_t height) {
    return StackOf(count, width, height, Scrambled);
}

// A plane's bytes in the order of its file: byte k is row k % Height of column
// k / Height.
TBytes ColumnOrder(const TPic& plane) {
    TBytes bytes;
    bytes.reserve(plane.Data.size());
    for (std::int32_t c = 0; c < plane.Width; ++c)
        for (std::int32_t r = 0; r < plane.Height; ++r)
            bytes.push_back(plane.Data[r][c]);
    return bytes;
}

// Where two byte strings first differ, or "" (planes of megabytes are not printed).
std::string FirstDifference(const TBytes& expected, const TBytes& actual) {
    if (expected.size() != actual.size())
        return std::to_string(actual.size()) + " bytes instead of " +
               std::to_string(expected.size());
    const auto [e, a] = std::mismatch(expected.begin(), expected.end(), actual.begin());
    if (e == expected.end())
        return "";
    return "byte " + std::to_string(e - expected.begin()) + " is " + std::to_string(*a) +
           " instead of " + std::to_string(*e);
}

class PicSetThreads : public testing::TestWithParam<int> {
protected:
    // Loads the set on the test's threads with bare names found in dir, and lists
    // the planes reported as read.
    bool Load(TPics& pics, const std::string& header) {
        TLoadOptions options;
        options.BaseFolder = dir.path();
        options.Threads = GetParam();
        options.Progress = [this](std::int32_t plane, const std::string& fileName) {
            reported.push_back(plane);
            EXPECT_EQ(fileName, dir / (std::to_string(plane) + "_set.bin"));
        };
        return LoadPicSet(pics, header, options);
    }
    std::vector<std::int32_t> Reported(std::int32_t count) const {
        std::vector<std::int32_t> planes(static_cast<std::size_t>(count));
        for (std::int32_t i = 0; i < count; ++i)
            planes[std::size_t(i)] = i;
        return planes;
    }
    TTempDir dir;
    std::vector<std::int32_t> reported;
};

// Sizes around the edges of the blocks the planes are turned in, of the chunks
// they are read in and of the bands the threads take: one pixel, one row, one
// column, sides that are no multiple of a block, columns taller than a chunk,
// planes of several bands, and a plane without pixels.
TEST_P(PicSetThreads, EverySizeComesBackInTheFileOrder) {
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {1, 1},       {1, 777},       {777, 1},       {63, 65},     {129, 47},
        {3, 400'000}, {1, 5'000'000}, {5'000'000, 1}, {2100, 2100}, {0, 5}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const TPics saved = ScrambledStack(3, width, height);
        SavePicSet(saved, dir / "set.bbf", true);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(FirstDifference(ColumnOrder(saved.Planes[i]),
                                      ReadFileBytes(dir / (std::to_string(i) + "_set.bin"))),
                      "")
                << "file of plane " << i;

        TPics loaded;
        reported.clear();
        ASSERT_TRUE(Load(loaded, dir / "set.bbf")) << loaded.LastError();
        ASSERT_EQ(loaded.Count(), 3);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(std::pair(loaded.Planes[i].Width, loaded.Planes[i].Height),
                      std::pair(width, height));
            EXPECT_EQ(FirstDifference(Values(saved.Planes[i]), Values(loaded.Planes[i])), "")
                << "plane " << i;
        }
        EXPECT_EQ(reported, Reported(3));
        EXPECT_EQ(loaded.SourceFiles(),
                  (std::vector<std::string>{dir / "set.bbf", dir / "0_set.bin", dir / "1_set.bin",
                                            dir / "2_set.bin"}));
    }
}

// A set of four planes of 2100 x 2100, each read in two bands, damaged in one or
// two places.
struct TSetDamage {
    const char* label;
    std::function<void(const TTempDir&)> damage;
    std::int32_t failed;      // the plane whose reason is given
    std::size_t kept;         // the bytes of its file that it keeps
    std::string reason;       // after "could not be loaded: "; "<file>" stands for its file
    std::int32_t noName = -1; // the plane whose header line names no file
};

class PicSetThreadsDamaged : public PicSetThreads {
protected:
    static constexpr std::int32_t kSide = 2100;
    static void SetUpTestSuite() {
        const TPics pics = ScrambledStack(4, kSide, kSide);
        for (const TPic& plane : pics.Planes)
            files_.push_back(ColumnOrder(plane));
    }
    static void TearDownTestSuite() { files_.clear(); }
    std::string Header(const std::string& emptyLine = "9") const {
        std::string text =
            kHead + std::to_string(kSide) + "\r\n" + std::to_string(kSide) + "\r\n" + kRule;
        for (int i = 0; i < 4; ++i)
            text += (std::to_string(i) == emptyLine ? "" : std::to_string(i) + "_set.bin") + "\r\n";
        return text;
    }
    static std::vector<TBytes> files_;
};

std::vector<TBytes> PicSetThreadsDamaged::files_;

TEST_P(PicSetThreadsDamaged, GiveTheFirstPlanesReasonAndKeepWhatReadingInOrderKeeps) {
    auto truncate = [](const std::string& name, std::uintmax_t size) {
        return [name, size](const TTempDir& d) { fs::resize_file(d / name, size); };
    };
    auto removeAll = [](std::vector<std::string> names) {
        return [names](const TTempDir& d) {
            for (const std::string& name : names)
                fs::remove(d / name);
        };
    };
    auto both = [](std::function<void(const TTempDir&)> a, std::function<void(const TTempDir&)> b) {
        return [a, b](const TTempDir& d) { a(d), b(d); };
    };
    auto emptyLine = [this](const std::string& plane) {
        return [this, plane](const TTempDir& d) { WriteFileText(d / "set.bbf", Header(plane)); };
    };
    const std::string planeOf = "a plane of 2100 x 2100 pixels needs 4410000.";
    const TSetDamage damages[] = {
        {"two files missing", removeAll({"2_set.bin", "3_set.bin"}), 2, 0,
         "Cannot open <file>: No such file or directory."},
        {"a file ending in its second band, a later one missing",
         both(truncate("1_set.bin", 4'300'000), removeAll({"3_set.bin"})), 1, 4'300'000,
         "Cannot read <file>: it holds 4300000 bytes, but " + planeOf},
        {"a file ending inside a column of its first band, a later one short too",
         both(truncate("0_set.bin", 1'000'001), truncate("1_set.bin", 5)), 0, 1'000'001,
         "Cannot read <file>: it holds 1000001 bytes, but " + planeOf},
        {"an empty file", truncate("3_set.bin", 0), 3, 0,
         "Cannot read <file>: it holds 0 bytes, but " + planeOf},
        {"a folder",
         [](const TTempDir& d) {
             fs::remove(d / "1_set.bin");
             fs::create_directory(d / "1_set.bin");
         },
         1, 0, "Cannot read <file>: it is a folder."},
        {"a line naming no file, a later file missing",
         both(emptyLine("2"), removeAll({"3_set.bin"})), 2, 0, "the line names no file.", 2},
        {"the first line naming no file", emptyLine("0"), 0, 0, "the line names no file.", 0},
        {"a file missing before a line naming no file",
         both(emptyLine("2"), removeAll({"1_set.bin"})), 1, 0,
         "Cannot open <file>: No such file or directory.", 2},
    };
    for (const TSetDamage& damage : damages) {
        SCOPED_TRACE(damage.label);
        for (std::size_t i = 0; i < files_.size(); ++i) {
            std::error_code ignored;
            fs::remove(dir / (std::to_string(i) + "_set.bin"), ignored);
            WriteFileBytes(dir / (std::to_string(i) + "_set.bin"), files_[i]);
        }
        WriteFileText(dir / "set.bbf", Header());
        damage.damage(dir);

        TPics pics = MakeStack(1, 1, 1);
        const std::uint64_t generation = pics.Generation();
        reported.clear();
        EXPECT_FALSE(Load(pics, dir / "set.bbf"));
        std::string reason = damage.reason;
        if (const std::size_t at = reason.find("<file>"); at != std::string::npos)
            reason.replace(at, 6, "\"" + dir / (std::to_string(damage.failed) + "_set.bin") + "\"");
        EXPECT_EQ(pics.LastError(),
                  "Plane " + std::to_string(damage.failed) + " of the picture set (line " +
                      std::to_string(damage.failed + 5) + " of the picture-set header \"" +
                      dir / "set.bbf" + "\") could not be loaded: " + reason);
        EXPECT_EQ(pics.Generation(), generation + 1);
        EXPECT_EQ(reported, Reported(damage.failed));
        ASSERT_EQ(pics.Count(), 4);
        std::vector<std::string> sources{dir / "set.bbf"};
        for (int i = 0; i < 4; ++i)
            sources.push_back(i == damage.noName ? "" : dir / (std::to_string(i) + "_set.bin"));
        EXPECT_EQ(pics.SourceFiles(), sources);
        for (std::int32_t i = 0; i < 4; ++i) {
            EXPECT_EQ(
                std::pair(pics.Planes[std::size_t(i)].Width, pics.Planes[std::size_t(i)].Height),
                std::pair(kSide, kSide));
            TBytes expected(files_[std::size_t(i)].size(), 0);
            const std::size_t kept = i < damage.failed    ? expected.size()
                                     : i == damage.failed ? damage.kept
                                                          : 0;
            std::copy_n(files_[std::size_t(i)].begin(), kept, expected.begin());
            EXPECT_EQ(FirstDifference(expected, ColumnOrder(pics.Planes[std::size_t(i)])), "")
                << "plane " << i;
        }
    }
}

// A progress callback that raises ends the load with its message: the planes up
// to the one it was called for stay, the later ones are 0.
TEST_P(PicSetThreadsDamaged, ACallbackThatRaisesEndsTheLoad) {
    for (std::size_t i = 0; i < files_.size(); ++i)
        WriteFileBytes(dir / (std::to_string(i) + "_set.bin"), files_[i]);
    WriteFileText(dir / "set.bbf", Header());
    TLoadOptions options;
    options.BaseFolder = dir.path();
    options.Threads = GetParam();
    options.Progress = [](std::int32_t plane, const std::string&) {
        if (plane == 1)
            throw std::runtime_error("stopped at plane 1");
    };
    TPics pics;
    EXPECT_FALSE(LoadPicSet(pics, dir / "set.bbf", options));
    EXPECT_EQ(pics.LastError(), "The picture set \"" + dir / "set.bbf" +
                                    "\" could not be loaded: stopped at plane 1.");
    ASSERT_EQ(pics.Count(), 4);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(FirstDifference(i < 2 ? files_[i] : TBytes(files_[i].size()),
                                  ColumnOrder(pics.Planes[i])),
                  "")
            << "plane " << i;
}

INSTANTIATE_TEST_SUITE_P(, PicSetThreads, testing::Values(1, 2, 4),
                         [](const auto& test) { return "Threads" + std::to_string(test.param); });
INSTANTIATE_TEST_SUITE_P(, PicSetThreadsDamaged, testing::Values(1, 2, 4),
                         [](const auto& test) { return "Threads" + std::to_string(test.param); });

} // namespace
