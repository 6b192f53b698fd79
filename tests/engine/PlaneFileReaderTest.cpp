// Picture sets loaded on several threads. A plane is read in bands that any thread
// may take, several planes at once; whatever the number of threads, a load gives
// what reading the planes one after another gives: the same planes, the same
// reason, the same sources, progress in plane order.

#include "PicSetSupport.h"
#include "TestSupport.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
