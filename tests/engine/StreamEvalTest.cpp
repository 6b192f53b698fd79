// The streamed evaluation against the whole stack's: the same codes, points and
// files for every kind of stack, thread count and setting, from the photographs
// and from a picture set.

#include "pipeline/StreamEval.h"

#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"
#include "decode/CodeMatrix.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "input/PicSet.h"
#include "input/Pics.h"
#include "input/PictureRows.h"
#include "output/JpegWriter.h"
#include "pipeline/Evaluator.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

struct TStreamCase {
    const char* Name;
    TSampleOptions Options;
};

TSampleOptions Sample(int width, int height, double spacing) {
    TSampleOptions options = SampleOptionsOf(width, height, spacing);
    options.Threads = 2;
    return options;
}

std::vector<TStreamCase> StreamCases() {
    std::vector<TStreamCase> cases;
    cases.push_back({"plain", Sample(320, 240, 20)});
    // Dots close together, noisy, blurred and tinted, not subsampled, a size that
    // is no multiple of a row of blocks.
    TSampleOptions dense = Sample(333, 251, 9);
    dense.Noise = 8;
    dense.Blur = 2;
    dense.Jitter = 2;
    dense.Tint = {1.0, 0.8, 0.6};
    dense.Chroma = TJpegChroma::Chroma444;
    dense.Seed = 3;
    cases.push_back({"dense", dense});
    TSampleOptions grey = Sample(250, 190, 24);
    grey.Greyscale = true;
    grey.Shuffle = true;
    grey.DotRadius = 6;
    grey.Seed = 5;
    cases.push_back({"greyscale", grey});
    // Small dots far apart: most rows of blocks lie on no dot and are passed over.
    TSampleOptions sparse = Sample(401, 299, 40);
    sparse.DotRadius = 2;
    sparse.Blur = 0.7;
    sparse.GainSpread = 0.4;
    sparse.DistinctCodes = 5;
    sparse.Seed = 9;
    cases.push_back({"sparse", sparse});
    TSampleOptions sparse444 = sparse;
    sparse444.Chroma = TJpegChroma::Chroma444;
    sparse444.Seed = 10;
    cases.push_back({"sparse444", sparse444});
    TSampleOptions sparse422 = sparse;
    sparse422.Chroma = TJpegChroma::Chroma422;
    sparse422.Seed = 11;
    cases.push_back({"sparse422", sparse422});
    // Camera pictures: 16-bit colour PNGs, whose table weighs the light at full
    // depth; 8-bit grey TIFFs in tiles; 16-bit TIFFs of 12 bits stored unscaled, dim.
    TSampleOptions png16 = Sample(300, 220, 18);
    png16.Format = TSampleFormat::Png;
    png16.Depth = 16;
    png16.Tint = {0.9, 1.0, 0.7};
    png16.Noise = 1;
    png16.Seed = 12;
    cases.push_back({"png16", png16});
    TSampleOptions tiff8 = Sample(270, 200, 22);
    tiff8.Format = TSampleFormat::Tiff;
    tiff8.Greyscale = true;
    tiff8.TiffTile = 32;
    tiff8.TiffCompression = TTiffCompression::Lzw;
    tiff8.Seed = 13;
    cases.push_back({"tiff8", tiff8});
    TSampleOptions tiff12 = Sample(280, 210, 20);
    tiff12.Format = TSampleFormat::Tiff;
    tiff12.Greyscale = true;
    tiff12.Depth = 16;
    tiff12.SignificantBits = 12;
    tiff12.Seed = 14;
    cases.push_back({"tiff12", tiff12});
    return cases;
}

// What --bits a stack's photographs need: the significant bits of 16-bit ones.
int SignificantBits(const TSampleOptions& options) {
    return options.Depth == 16 && options.SignificantBits < 16 ? options.SignificantBits : 0;
}

struct TSettings {
    std::uint8_t Channel, Tolerance, MinDif;
    int Bits = 0; ///< of 16-bit photographs (TLoadOptions::Bits)
};

// The three files of a run, and the codes.
struct TResult {
    std::vector<std::uint8_t> Points, Bitmap, Table;
    TCode Codes;
};

// The point table takes most of a run's time: it is compared for the first
// settings only.
TResult WholeStack(const std::string& list, const TSettings& s, int threads,
                   const std::string& folder, bool withTable = true) {
    TPicEval eval;
    eval.SetTolerance(s.Tolerance);
    eval.SetMinDif(s.MinDif);
    eval.Threads = threads;
    TLoadOptions options;
    options.Threads = threads;
    options.BaseFolder = ExtractFilePath(list);
    options.Bits = s.Bits;
    options.FullDepth = TPicEval::RefinementReads;
    const TLoadOutcome outcome = eval.LoadList(list, s.Channel, options);
    EXPECT_TRUE(outcome.Usable) << outcome.Reason;
    TBitmap display(eval.Width, eval.Height);
    eval.Evaluate(folder + "/whole.txt", true, display, withTable ? folder + "/whole.csv" : "");
    return {ReadFileBytes(folder + "/whole.txt"), ReadFileBytes(folder + "/whole.bmp"),
            withTable ? ReadFileBytes(folder + "/whole.csv") : std::vector<std::uint8_t>{},
            std::move(eval.CodeMatrix)};
}

// The streamed evaluation of a picture set, beside the streamed list's files.
TResult StreamedSet(const std::string& header, const TSettings& s, int threads,
                    const std::string& folder) {
    TStreamEval stream;
    stream.Tolerance = s.Tolerance;
    stream.MinDif = s.MinDif;
    stream.Threads = threads;
    stream.BitmapFileName = folder + "/set.bmp";
    stream.KeepCodeMatrix = true;
    const std::optional<TLoadOutcome> outcome =
        stream.LoadSet(header, ExtractFilePath(header), true);
    EXPECT_TRUE(outcome && outcome->Usable) << (outcome ? outcome->Reason : "not streamed");
    if (!outcome || !outcome->Usable)
        return {};
    stream.Evaluate(folder + "/set.txt", true, folder + "/set.csv");
    return {ReadFileBytes(folder + "/set.txt"), ReadFileBytes(folder + "/set.bmp"),
            ReadFileBytes(folder + "/set.csv"), std::move(stream.CodeMatrix)};
}

TResult Streamed(const std::string& list, const TSettings& s, int threads,
                 const std::string& folder, bool withTable = true) {
    TStreamEval stream;
    stream.Tolerance = s.Tolerance;
    stream.MinDif = s.MinDif;
    stream.Threads = threads;
    stream.BitmapFileName = folder + "/stream.bmp"; // written while the code pictures come
    stream.KeepCodeMatrix = true;
    TLoadOptions options;
    options.Threads = threads;
    options.BaseFolder = ExtractFilePath(list);
    options.Bits = s.Bits;
    const std::optional<TLoadOutcome> outcome = stream.LoadList(list, s.Channel, options, true);
    EXPECT_TRUE(outcome && outcome->Usable) << (outcome ? outcome->Reason : "not streamed");
    if (!outcome || !outcome->Usable)
        return {};
    stream.Evaluate(folder + "/stream.txt", true, withTable ? folder + "/stream.csv" : "");
    return {ReadFileBytes(folder + "/stream.txt"), ReadFileBytes(folder + "/stream.bmp"),
            withTable ? ReadFileBytes(folder + "/stream.csv") : std::vector<std::uint8_t>{},
            std::move(stream.CodeMatrix)};
}

// The first pixel whose code differs, as text; empty when the matrices agree.
std::string FirstCodeDifference(const TCode& expected, const TCode& actual) {
    if (expected.Width != actual.Width || expected.Height != actual.Height)
        return "the sizes differ";
    for (std::int32_t row = 0; row < expected.Height; ++row)
        for (std::int32_t col = 0; col < expected.Width; ++col)
            if (expected.GetCode(row, col) != actual.GetCode(row, col))
                return "row " + std::to_string(row) + ", column " + std::to_string(col) + ": " +
                       std::to_string(expected.GetCode(row, col)) + " expected, " +
                       std::to_string(actual.GetCode(row, col));
    return {};
}

class StreamEval : public testing::TestWithParam<TStreamCase> {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TTempDir>();
        for (const TStreamCase& c : StreamCases()) {
            const std::string list = WriteSampleStack(folder_->path(), c.Name, c.Options).ListFile;
            lists_.push_back(list);
            TPicEval eval;
            TLoadOptions options;
            options.BaseFolder = ExtractFilePath(list);
            options.Bits = SignificantBits(c.Options);
            ASSERT_TRUE(eval.LoadPictures(list, false, kChannelGrey, options));
            SavePicSet(eval.Pics, ChangeFileExt(list, ".bbf"), true);
        }
    }
    static void TearDownTestSuite() { folder_.reset(); }

    static std::string ListOf(const char* name) {
        const std::vector<TStreamCase> cases = StreamCases();
        for (std::size_t i = 0; i < cases.size(); ++i)
            if (std::string(cases[i].Name) == name)
                return lists_[i];
        return {};
    }

    static inline std::unique_ptr<TTempDir> folder_;
    static inline std::vector<std::string> lists_;
};

TEST_P(StreamEval, GivesTheWholeStacksCodesPointsAndFiles) {
    const std::string list = ListOf(GetParam().Name);
    const TSampleOptions& sample = GetParam().Options;
    const int bits = SignificantBits(sample);
    const TSettings settings[] = {{kChannelGrey, 30, 80, bits},
                                  {kChannelRed, 12, 40, bits},
                                  {kChannelBlue, 0, 80, bits},
                                  {kChannelGreen, 255, 0, bits}};
    // A picture set holds 8-bit planes: its table is the photographs' only where
    // they hold no more.
    const bool deep = sample.Depth > 8;
    for (const TSettings& s : settings) {
        for (int threads : {1, 2, 4}) {
            SCOPED_TRACE("channel " + std::to_string(s.Channel) + ", tolerance " +
                         std::to_string(s.Tolerance) + ", mindif " + std::to_string(s.MinDif) +
                         ", threads " + std::to_string(threads));
            TTempDir out;
            const bool table = &s == settings;
            const TResult whole = WholeStack(list, s, threads, out.path(), table);
            const TResult stream = Streamed(list, s, threads, out.path(), table);
            EXPECT_EQ(FirstCodeDifference(whole.Codes, stream.Codes), "");
            EXPECT_FALSE(whole.Bitmap.empty());
            EXPECT_EQ(stream.Points, whole.Points);
            EXPECT_EQ(stream.Bitmap, whole.Bitmap);
            // The table is written for the first settings only, and so is the picture
            // set saved from the grey photographs streamed: it streams alike.
            if (table) {
                EXPECT_FALSE(whole.Table.empty());
                EXPECT_EQ(stream.Table, whole.Table);
                const TResult set =
                    StreamedSet(ChangeFileExt(list, ".bbf"), s, threads, out.path());
                EXPECT_EQ(FirstCodeDifference(whole.Codes, set.Codes), "");
                EXPECT_EQ(set.Points, whole.Points);
                EXPECT_EQ(set.Bitmap, whole.Bitmap);
                if (!deep) {
                    EXPECT_EQ(set.Table, whole.Table);
                }
                EXPECT_FALSE(whole.Points.empty()) << "the stack holds dots";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stacks, StreamEval, testing::ValuesIn(StreamCases()),
                         [](const auto& param) { return std::string(param.param.Name); });

// Photographs that are no sample: noise in every channel, progressive files among
// them, so that every kind of decoding is folded.
TEST(StreamEvalPattern, ProgressiveAndSubsampledPhotographsGiveTheWholeStacksFiles) {
    TTempDir dir;
    std::string list = "pattern\r\nstack\r\n";
    for (int i = 0; i < TPicEval::kStackPlanes; ++i) {
        const std::string name = dir / ("p" + std::to_string(i) + ".jpg");
        WritePatternJpeg(name, 97, 45, i % 5 == 4 ? 1 : 3, unsigned(i) * 7 + 1, i % 2 == 0,
                         i % 3 == 0);
        list += name + "\r\n";
    }
    WriteFileText(dir / "list.txt", list);
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const TSettings s{kChannelGrey, 20, 30};
        const TResult whole = WholeStack(dir / "list.txt", s, threads, dir.path());
        const TResult stream = Streamed(dir / "list.txt", s, threads, dir.path());
        EXPECT_EQ(FirstCodeDifference(whole.Codes, stream.Codes), "");
        EXPECT_EQ(stream.Points, whole.Points);
        EXPECT_EQ(stream.Bitmap, whole.Bitmap);
        EXPECT_FALSE(whole.Table.empty());
        EXPECT_EQ(stream.Table, whole.Table);
        EXPECT_GT(stream.Points.size(), 100u) << "noise gives many codes";
    }
}

// What the streamed load leaves to the whole stack: nothing is decoded, and the
// caller loads the list whole, which reports what is wrong.
TEST(StreamEvalPattern, ListsThatCannotStreamAreLeftToTheWholeStack) {
    TTempDir dir;
    std::string list = "t\r\nt\r\n", sizes = list, unreadable = list;
    for (int i = 0; i < TPicEval::kStackPlanes; ++i) {
        const std::string name = dir / ("p" + std::to_string(i) + ".jpg");
        WritePatternJpeg(name, 40, 30, 3, unsigned(i) + 1);
        list += name + "\r\n";
        sizes += (i == 9 ? dir / "other.jpg" : name) + "\r\n";
        unreadable += (i == 16 ? dir / "text.jpg" : name) + "\r\n";
    }
    WritePatternJpeg(dir / "other.jpg", 41, 30, 3, 99);
    WriteFileText(dir / "text.jpg", "no photograph");
    WriteFileText(dir / "short.txt", "t\r\nt\r\n" + dir / "p0.jpg" + "\r\n");
    WriteFileText(dir / "sizes.txt", sizes);
    WriteFileText(dir / "unreadable.txt", unreadable);
    for (const char* name : {"short.txt", "sizes.txt", "unreadable.txt", "absent.txt"}) {
        TStreamEval stream;
        EXPECT_FALSE(stream.LoadList(dir / name, kChannelGrey, {}, false)) << name;
    }
    // The same photographs, all of one size, do stream.
    WriteFileText(dir / "list.txt", list);
    TStreamEval stream;
    EXPECT_TRUE(stream.LoadList(dir / "list.txt", kChannelGrey, {}, false));
}

} // namespace
