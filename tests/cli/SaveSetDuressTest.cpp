// save-set under duress: a signal at any point of the save, and a disk that fills
// up, leave the former set, the next one or none, never a mix, and nothing behind.

#include "TestSupport.h"
#include "ToolRun.h"
#include "image/Plane.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

// 17 planes of noise, different for every seed, saved as a picture set.
TPics NoiseStack(unsigned seed, std::int32_t width, std::int32_t height) {
    TPics pics;
    pics.SetCount(17, width, height);
    std::mt19937 random(seed);
    for (TPic& plane : pics.Planes)
        for (std::int32_t row = 0; row < height; ++row)
            for (std::int32_t col = 0; col < width; ++col)
                plane.Data[row][col] = static_cast<std::uint8_t>(random());
    return pics;
}

bool SamePlanes(const TPics& a, const TPics& b) {
    if (a.Count() != b.Count())
        return false;
    for (std::size_t i = 0; i < a.Planes.size(); ++i) {
        const TPic& x = a.Planes[i];
        const TPic& y = b.Planes[i];
        if (x.Width != y.Width || x.Height != y.Height ||
            !std::equal(x.Data.data(), x.Data.data() + x.Data.size(), y.Data.data()))
            return false;
    }
    return true;
}

// Two stacks saved as sets, and a folder holding the output set, saved from the
// first; each run saves the second over it.
class SaveSetUnderDuress : public testing::Test {
protected:
    static void SetUpTestSuite() {
        inputs_ = std::make_unique<TTempDir>();
        former_ = NoiseStack(1, kWidth, kHeight);
        next_ = NoiseStack(2, kWidth, kHeight);
        SavePicSet(former_, *inputs_ / "former.bbf", true);
        SavePicSet(next_, *inputs_ / "next.bbf", true);
    }
    static void TearDownTestSuite() { inputs_.reset(); }

    void SetUp() override {
        const TOutcome made =
            RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path());
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
    }

    std::vector<std::string> SaveNext() const {
        return {"save-set", "-q", *inputs_ / "next.bbf", "out"};
    }

    // The output set: the former one, the next one, or none that loads; never a mix.
    enum class TFound { Former, Next, Refused, Mixed };
    TFound Found() const {
        TPics pics;
        if (!LoadPicSet(pics, out_ / "out.bbf", out_.path()))
            return TFound::Refused;
        return SamePlanes(pics, former_) ? TFound::Former
               : SamePlanes(pics, next_) ? TFound::Next
                                         : TFound::Mixed;
    }

    static constexpr std::int32_t kWidth = 700;
    static constexpr std::int32_t kHeight = 500;
    static std::unique_ptr<TTempDir> inputs_;
    static TPics former_, next_;
    TTempDir out_;
};

std::unique_ptr<TTempDir> SaveSetUnderDuress::inputs_;
TPics SaveSetUnderDuress::former_, SaveSetUnderDuress::next_;

TEST_F(SaveSetUnderDuress, ASignalAtAnyPointLeavesTheFormerSetTheNextOrNone) {
    // How long an undisturbed save takes, to spread the signals over it.
    const TOutcome timed = RunTool(SaveNext(), out_.path());
    ASSERT_EQ(timed.ExitCode, 0) << timed.Err;
    ASSERT_EQ(RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path()).ExitCode, 0);
    const auto span = std::chrono::microseconds(std::int64_t(timed.Seconds * 1.2e6));

    int interrupted = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        constexpr int kPoints = 10;
        for (int point = 0; point < kPoints; ++point) {
            const auto delay = span * point / kPoints;
            SCOPED_TRACE(std::string(strsignal(signal)) + " after " +
                         std::to_string(delay.count()) + " us");
            const TOutcome run = RunTool(SaveNext(), out_.path(), {}, std::pair(signal, delay));
            const TFound found = Found();
            EXPECT_NE(found, TFound::Mixed);
            if (run.ExitCode == 0) {
                EXPECT_EQ(found, TFound::Next);
            } else if (run.Signal == signal && signal != SIGKILL) {
                // Ended before the program got as far as handling signals (as it
                // starts up, under load): nothing was written yet.
                EXPECT_EQ(found, TFound::Former);
                EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
            } else if (signal == SIGKILL) {
                EXPECT_EQ(run.Signal, SIGKILL);
                ++interrupted;
            } else {
                ++interrupted;
                EXPECT_EQ(run.ExitCode, 128 + signal) << run.Err;
                EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
                EXPECT_NE(run.Err.find("interrupted by SIG"), std::string::npos) << run.Err;
                EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
            }
            // A save after any of it, a kill -9 too, gives the set whole and clears
            // what an ended process left behind.
            const TOutcome again =
                RunTool({"save-set", "-q", *inputs_ / "former.bbf", "out"}, out_.path());
            ASSERT_EQ(again.ExitCode, 0) << again.Err;
            EXPECT_EQ(Found(), TFound::Former);
            EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
        }
    }
    EXPECT_GT(interrupted, 8) << "the signals should mostly land while the save runs";
}

TEST_F(SaveSetUnderDuress, AFullDiskLeavesTheFormerSetAndNamesTheFile) {
    // Limits on the size of any file written: before the first plane ends, within
    // the set, and one that only the largest plane passes.
    const rlim_t plane = rlim_t(kWidth) * kHeight;
    for (rlim_t limit : {rlim_t(0), rlim_t(4096), plane / 2, plane - 1}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const TOutcome run = RunTool(SaveNext(), out_.path(), {{RLIMIT_FSIZE, limit}});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("File too large"), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("_out.bin\""), std::string::npos) << "names the file: " << run.Err;
        EXPECT_EQ(Lines(run.Err), 1u) << run.Err;
        EXPECT_EQ(Found(), TFound::Former);
        EXPECT_EQ(TemporaryFiles(out_.path()), std::vector<std::string>{});
    }
}

} // namespace
