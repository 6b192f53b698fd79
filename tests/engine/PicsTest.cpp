#include "base/Errors.h"
#include "PicHolder.h"
#include "TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWidth = 24, kHeight = 16;

// A folder with photographs p0.jpg … p{count−1}.jpg, each of its own content.
struct TPhotoFolder {
    TTempDir dir;
    explicit TPhotoFolder(int count) {
        for (int i = 0; i < count; ++i)
            WritePatternJpeg(Photo(i), kWidth, kHeight, 3, unsigned(i + 1));
    }
    std::string Photo(int i) const { return dir / ("p" + std::to_string(i) + ".jpg"); }
    std::string List(const std::vector<std::string>& names, const std::string& lineEnd = "\r\n",
                     const std::string& file = "list.txt") const {
        std::string text = "first line\r\nsecond line" + lineEnd;
        for (const std::string& name : names)
            text += name + lineEnd;
        WriteFileText(dir / file, text);
        return dir / file;
    }
    std::vector<std::string> Photos(int count) const {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i)
            names.push_back(Photo(i));
        return names;
    }
};

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

TEST(LoadOutcome, SaysWhetherTheStackIsUsableWhetherItWasReplacedAndWhy) {
    TPhotoFolder folder(17);
    const std::string list = folder.List(folder.Photos(17));
    TPicEval eval;

    TLoadOutcome outcome = eval.LoadList(list, kChannelGrey);
    EXPECT_TRUE(outcome.Usable && outcome.Replaced && outcome.Reason.empty() && !outcome.Error);

    // A list that cannot be read leaves the usable stack as it was.
    outcome = eval.LoadList(folder.dir / "none.txt", kChannelGrey);
    EXPECT_FALSE(outcome.Usable || outcome.Replaced || outcome.Error);
    EXPECT_EQ(outcome.Reason,
              "The list file \"" + (folder.dir / "none.txt") + "\" does not exist.");
    EXPECT_TRUE(eval.IsStackComplete());

    // Sixteen photographs load but make no stack.
    outcome = eval.LoadList(folder.List(folder.Photos(16), "\r\n", "short.txt"), kChannelGrey);
    EXPECT_FALSE(outcome.Usable || outcome.Error);
    EXPECT_TRUE(outcome.Replaced);
    EXPECT_EQ(outcome.Reason, "\"" + (folder.dir / "short.txt") +
                                  "\" does not give a complete stack: The stack holds 16 "
                                  "pictures; 17 are needed.");

    // A damaged photograph: the decoder's error travels with the outcome.
    WriteFileText(folder.Photo(9), "damaged");
    outcome = eval.LoadList(list, kChannelGrey);
    EXPECT_FALSE(outcome.Usable);
    EXPECT_TRUE(outcome.Replaced);
    ASSERT_TRUE(outcome.Error);
    EXPECT_THROW(std::rethrow_exception(outcome.Error), EJpegError);
    EXPECT_NE(outcome.Reason.find(folder.Photo(9)), std::string::npos) << outcome.Reason;
}

TEST(LoadOutcome, OfAPictureSetTakesTheSizeWhateverTheLoadGave) {
    TPhotoFolder folder(17);
    TPicEval eval;
    ASSERT_TRUE(eval.LoadList(folder.List(folder.Photos(17)), kChannelGrey).Usable);
    const std::string header = folder.dir / "set.bbf";
    SavePicSet(eval.Pics, header, true);

    TPicEval fresh;
    TLoadOutcome outcome = fresh.LoadSet(header, folder.dir.path());
    EXPECT_TRUE(outcome.Usable && outcome.Replaced && outcome.Reason.empty());
    EXPECT_EQ(fresh.Width, kWidth);
    EXPECT_EQ(fresh.Height, kHeight);

    outcome = fresh.LoadSet(folder.dir / "none.bbf", folder.dir.path());
    EXPECT_FALSE(outcome.Usable || outcome.Replaced || outcome.Error);
    EXPECT_EQ(outcome.Reason, fresh.Pics.LastError());
    EXPECT_NE(outcome.Reason.find("none.bbf"), std::string::npos) << outcome.Reason;
}
