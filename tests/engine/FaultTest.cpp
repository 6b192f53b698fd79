// Writes that fail: a target inside a folder that does not exist, a target that is
// a folder, a full device, and a file that stops growing part-way through (a
// file-size limit, since the suite runs as root and permissions stop nothing).
// Whatever the failure: the error is an EFileError naming the file and the
// reason, an earlier file of that name keeps every byte, no temporary file stays
// behind, and the run stops where it failed — the files written before are
// complete, the ones after are not touched.

#include "EvalSupport.h"
#include "FaultSupport.h"
#include "TestSupport.h"
#include "image/Bitmap.h"
#include "input/PicSet.h"
#include "input/Pics.h"
#include "pipeline/Evaluator.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class TFault { MissingFolder, Folder, FullDevice, PartWay };

const char* FaultName(TFault fault) {
    switch (fault) {
    case TFault::MissingFolder:
        return "MissingFolder";
    case TFault::Folder:
        return "Folder";
    case TFault::FullDevice:
        return "FullDevice";
    case TFault::PartWay:
        return "PartWay";
    }
    return "?";
}

// What the error message gives as the reason for each fault.
const char* FaultReason(TFault fault) {
    switch (fault) {
    case TFault::MissingFolder:
        return "does not exist";
    case TFault::Folder:
        return "folder";
    case TFault::FullDevice:
        return "No space left on device";
    case TFault::PartWay:
        return "File too large";
    }
    return "?";
}

bool HaveFullDevice() {
    struct stat info {};
    return ::stat("/dev/full", &info) == 0 && S_ISCHR(info.st_mode) &&
           ::access("/dev/full", W_OK) == 0;
}

// ---------------------------------------------------------------------------
// The saves under test. Each writes a fixed series of files into a folder, in a
// fixed order; one of them is made to fail.

enum class TSave {
    Bitmap,         // TBitmap::SaveToFile
    PicSetHeader,   // SavePicSet, failing at its header
    PicSetPlane,    // SavePicSet, failing at plane file 1 of 3
    EvaluatePoints, // TPicEval::Evaluate, failing at the points file
    EvaluateBitmap, // TPicEval::Evaluate, failing at the BMP
};

const char* SaveName(TSave save) {
    switch (save) {
    case TSave::Bitmap:
        return "Bitmap";
    case TSave::PicSetHeader:
        return "PicSetHeader";
    case TSave::PicSetPlane:
        return "PicSetPlane";
    case TSave::EvaluatePoints:
        return "EvaluatePoints";
    case TSave::EvaluateBitmap:
        return "EvaluateBitmap";
    }
    return "?";
}

struct TFaultCase {
    TSave Save;
    TFault Fault;
    int Threads = 1; // for Evaluate
};

std::string CaseName(const testing::TestParamInfo<TFaultCase>& info) {
    std::string name = std::string(SaveName(info.param.Save)) + "_" + FaultName(info.param.Fault);
    if (info.param.Save == TSave::EvaluatePoints || info.param.Save == TSave::EvaluateBitmap)
        name += "_Threads" + std::to_string(info.param.Threads);
    return name;
}

// A bitmap whose every byte tells its place, with more rows than one gathered
// write takes.
TBitmap PatternBitmap() {
    TBitmap bitmap(64, 1100);
    for (std::int32_t row = 0; row < bitmap.Height(); ++row)
        for (std::size_t i = 0; i < bitmap.BytesPerLine(); ++i)
            bitmap.ScanLine(row)[i] = static_cast<std::uint8_t>(row * 7 + int(i) * 3 + 1);
    return bitmap;
}

// Three planes of different sizes: plane 1, the one made to fail, is larger than
// the header and plane 0 together and larger than one write piece, so a size limit
// can fall inside it with everything before it already written.
TPics PicSetPlanes() {
    TPics pics;
    pics.SetCount(3, 1, 1);
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{6, 5}, {1200, 1000}, {7, 2}};
    for (std::size_t i = 0; i < 3; ++i) {
        TPic& plane = pics.Planes[i];
        plane.SetSize(sizes[i].first, sizes[i].second);
        for (std::int32_t r = 0; r < plane.Height; ++r)
            for (std::int32_t c = 0; c < plane.Width; ++c)
                plane.Data[r][c] = static_cast<std::uint8_t>(int(i) * 91 + r * 5 + c * 11);
    }
    return pics;
}

// A busy stack whose marked picture takes more than one of the BMP writer's
// pieces, with thousands of points: random rows, repeated.
constexpr std::int32_t kStackWidth = 640;
constexpr std::int32_t kStackHeight = 576;

std::unique_ptr<TPicEval> BusyStack() {
    constexpr std::int32_t kRandomRows = 48;
    TPicEval random;
    MakeStack(random, kStackWidth, kRandomRows);
    FillRandom(random.Pics, 17);
    auto eval = std::make_unique<TPicEval>();
    MakeStack(*eval, kStackWidth, kStackHeight);
    for (std::size_t k = 0; k < eval->Pics.Planes.size(); ++k)
        for (std::int32_t row = 0; row < kStackHeight; ++row)
            std::copy_n(random.Pics.Planes[k].Data[row % kRandomRows], kStackWidth,
                        eval->Pics.Planes[k].Data[row]);
    eval->SetTolerance(30);
    eval->SetMinDif(10);
    return eval;
}

class FaultyWrite : public testing::TestWithParam<TFaultCase> {
protected:
    static void TearDownTestSuite() {
        stack_.reset();
        written_.clear();
    }

    // The files as the save writes them when nothing fails (Evaluate on one
    // thread), in Order(); made once for the saves that write the same files.
    const std::vector<std::string>& Written() const {
        std::vector<std::string>& files = written_[Order().front()];
        if (files.empty()) {
            TTempDir reference;
            Run(reference.path(), 1);
            for (const std::string& name : Order())
                files.push_back(ReadWhole(reference / name));
            EXPECT_EQ(ListFolder(reference.path()).size(), files.size());
        }
        return files;
    }

    // The files the save writes, in the order it writes them.
    std::vector<std::string> Order() const {
        switch (GetParam().Save) {
        case TSave::Bitmap:
            return {"pic.bmp"};
        case TSave::PicSetHeader:
        case TSave::PicSetPlane:
            return {"0_set.bin", "1_set.bin", "2_set.bin", "set.bbf"};
        case TSave::EvaluatePoints:
        case TSave::EvaluateBitmap:
            return {"out.txt", "out.bmp"};
        }
        return {};
    }

    // A set's files are put in place together, once all of them are written.
    bool WrittenAsOne() const {
        return GetParam().Save == TSave::PicSetHeader || GetParam().Save == TSave::PicSetPlane;
    }

    std::size_t FailingIndex() const {
        // Every file of a save lies in one folder: without it the first one fails.
        if (GetParam().Fault == TFault::MissingFolder)
            return 0;
        switch (GetParam().Save) {
        case TSave::PicSetPlane:
            return 1;
        case TSave::PicSetHeader:
            return 3;
        case TSave::EvaluateBitmap:
            return 1;
        default:
            return 0;
        }
    }

    // Writes every file of the save into folder.
    void Run(const std::string& folder, int threads) const {
        switch (GetParam().Save) {
        case TSave::Bitmap:
            bitmap_.SaveToFile(folder + "/pic.bmp");
            return;
        case TSave::PicSetHeader:
        case TSave::PicSetPlane:
            SavePicSet(planes_, folder + "/set.bbf", true);
            return;
        case TSave::EvaluatePoints:
        case TSave::EvaluateBitmap: {
            if (!stack_)
                stack_ = BusyStack(); // made once, for every Evaluate case
            stack_->Threads = threads;
            TBitmap display(kStackWidth, kStackHeight);
            stack_->Evaluate(folder + "/out.txt", true, display);
            return;
        }
        }
    }

    TBitmap bitmap_ = GetParam().Save == TSave::Bitmap ? PatternBitmap() : TBitmap();
    TPics planes_ = GetParam().Save == TSave::PicSetHeader || GetParam().Save == TSave::PicSetPlane
                        ? PicSetPlanes()
                        : TPics();
    static std::unique_ptr<TPicEval> stack_;
    static std::map<std::string, std::vector<std::string>> written_;
};

std::unique_ptr<TPicEval> FaultyWrite::stack_;
std::map<std::string, std::vector<std::string>> FaultyWrite::written_;

TEST_P(FaultyWrite, RaisesNamesTheFileKeepsEarlierFilesAndStopsThere) {
    const TFault fault = GetParam().Fault;
    if (fault == TFault::FullDevice && !HaveFullDevice())
        GTEST_SKIP() << "this system has no /dev/full";
    const std::vector<std::string> order = Order();
    const std::size_t failing = FailingIndex();

    const std::vector<std::string>& written = Written();

    // Earlier files of every name, then the fault in place of the failing one.
    TTempDir dir;
    for (const std::string& name : order)
        WriteFileText(dir / name, "earlier " + name + "\n");
    const std::string& failingName = order[failing];
    std::string folder = dir.path();
    std::optional<rlim_t> sizeLimit;
    switch (fault) {
    case TFault::MissingFolder:
        folder = dir / "absent";
        break;
    case TFault::Folder:
        fs::remove(dir / failingName);
        fs::create_directory(dir / failingName);
        WriteFileText(dir / failingName + "/inside", "kept");
        break;
    case TFault::FullDevice:
        fs::remove(dir / failingName);
        fs::create_symlink("/dev/full", dir / failingName);
        break;
    case TFault::PartWay: {
        // The limit falls near the end of the failing file, beyond every file the
        // save writes before it.
        const std::size_t size = written[failing].size();
        sizeLimit = rlim_t(size - size / 8);
        for (std::size_t i = 0; i < failing; ++i)
            ASSERT_LT(written[i].size(), *sizeLimit) << order[i] << " would fail first";
        break;
    }
    }
    const std::string target = folder + "/" + failingName;

    TSnapshot before = Snapshot(dir.path());
    const TOutcome outcome = Attempt([&] { Run(folder, GetParam().Threads); }, sizeLimit);
    TSnapshot after = Snapshot(dir.path());

    EXPECT_TRUE(outcome.FileError) << outcome.Message;
    EXPECT_NE(outcome.Message.find("\"" + target + "\""), std::string::npos)
        << "the error must name " << target << ": " << outcome.Message;
    EXPECT_NE(outcome.Message.find(FaultReason(fault)), std::string::npos)
        << "the error must give the reason: " << outcome.Message;

    // The files before the failing one are written whole, unless the save puts
    // its files in place together; the failing one and those after it are as they
    // were, and nothing else appears.
    for (std::size_t i = 0; i < failing && !WrittenAsOne(); ++i) {
        EXPECT_TRUE(after[order[i]] == "file " + written[i])
            << order[i] << " is written before " << failingName << " and must be complete";
        before.erase(order[i]);
        after.erase(order[i]);
    }
    EXPECT_EQ(Differences(before, after), std::vector<std::string>{})
        << "earlier files must keep every byte and no temporary file may stay behind";
    if (fault == TFault::FullDevice) {
        struct stat info {};
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device is written in place, never replaced";
    }
}

std::vector<TFaultCase> FaultCases() {
    std::vector<TFaultCase> cases;
    const TFault all[] = {TFault::MissingFolder, TFault::Folder, TFault::FullDevice,
                          TFault::PartWay};
    for (TFault fault : all) {
        cases.push_back({TSave::Bitmap, fault});
        // The header is the smallest file of its set: a size limit stops a plane first.
        if (fault != TFault::PartWay)
            cases.push_back({TSave::PicSetHeader, fault});
        for (int threads : {1, 2})
            cases.push_back({TSave::EvaluatePoints, fault, threads});
    }
    // A plane file or a BMP lies beside the file written before it, so its folder
    // cannot be missing on its own; a folder in the BMP's place is covered in
    // EvaluateTest.
    for (TFault fault : {TFault::Folder, TFault::FullDevice, TFault::PartWay})
        cases.push_back({TSave::PicSetPlane, fault});
    for (TFault fault : {TFault::FullDevice, TFault::PartWay})
        for (int threads : {1, 2})
            cases.push_back({TSave::EvaluateBitmap, fault, threads});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(, FaultyWrite, testing::ValuesIn(FaultCases()), CaseName);

} // namespace
