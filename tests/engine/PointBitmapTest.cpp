// The marked picture written down a named pipe: a BMP named after the points file
// may be a pipe (or a link to one, or to a terminal); it is then written in place,
// whole and with its marks, and nothing goes down it when the points file, written
// first, fails.

#include "EvalSupport.h"
#include "FaultSupport.h"
#include "TestSupport.h"
#include "image/Bitmap.h"
#include "pipeline/Evaluator.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <stop_token>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Larger than the file writer holds back.
constexpr std::int32_t kStackWidth = 640;
constexpr std::int32_t kStackHeight = 576;

// A named pipe, and a thread that reads whatever reaches it. The pipe is also held
// open for reading and writing here, so that opening it to write never waits and
// reading never meets its end.
class TPipeReader {
public:
    explicit TPipeReader(const std::string& path) {
        if (::mkfifo(path.c_str(), 0600) != 0)
            return;
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0)
            reader_ = std::jthread([this](std::stop_token stop) { Read(stop); });
    }
    ~TPipeReader() {
        Stop();
        if (fd_ >= 0)
            ::close(fd_);
    }
    TPipeReader(const TPipeReader&) = delete;
    TPipeReader& operator=(const TPipeReader&) = delete;

    bool Open() const { return fd_ >= 0; }

    /// Waits until some bytes have come through, for at most the given time.
    void AwaitBytes(std::chrono::milliseconds most) const {
        const auto until = std::chrono::steady_clock::now() + most;
        while (count_.load() == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    /// Stops reading once the pipe is empty; gives the bytes that came through.
    const std::string& Stop() {
        if (reader_.joinable()) {
            reader_.request_stop();
            reader_.join();
        }
        return received_;
    }

private:
    void Read(std::stop_token stop) {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const bool stopping = stop.stop_requested();
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, stopping ? 0 : 5) > 0) {
                const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
                if (n > 0) {
                    received_.append(buffer.data(), std::size_t(n));
                    count_ += std::size_t(n);
                    continue;
                }
            }
            if (stopping)
                return;
        }
    }

    int fd_ = -1;
    std::string received_;
    std::atomic<std::size_t> count_{0};
    std::jthread reader_;
};

// A BMP named after the points file may be a pipe (or a link to one, or to a
// terminal); it is then written in place, and what went down the pipe cannot be
// taken back. The picture is larger than the file writer holds back, and has
// three marks.
class BitmapDownAPipe : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        MakeStack(eval_, kStackWidth, kStackHeight);
        eval_.SetMinDif(80);
        for (auto [row, col] : {std::pair{5, 7}, {300, 400}, {570, 630}})
            SetDot(eval_, row, col, 10, 200, 1 + unsigned(col % 7), 200, 5);
        eval_.Threads = GetParam();
        ASSERT_GT(BitmapStride(kStackWidth, TPixelFormat::pf24bit) * kStackHeight, std::size_t(1)
                                                                                       << 20);
    }
    TPicEval eval_;
    TTempDir dir_;
};

TEST_P(BitmapDownAPipe, ArrivesWholeWithItsMarks) {
    TTempDir reference;
    TBitmap referenceDisplay(kStackWidth, kStackHeight);
    eval_.Evaluate(reference / "out.txt", true, referenceDisplay);

    TPipeReader pipe(dir_ / "out.bmp");
    ASSERT_TRUE(pipe.Open());
    TBitmap display(kStackWidth, kStackHeight);
    const TOutcome outcome =
        Attempt([&] { eval_.Evaluate(dir_ / "out.txt", true, display); }, std::nullopt);
    const std::string& sent = pipe.Stop();
    EXPECT_EQ(outcome.Message, "reported success")
        << "a BMP that goes to a pipe must be written as a file is, marks and all";
    EXPECT_EQ(ReadWhole(dir_ / "out.txt"), ReadWhole(reference / "out.txt"));
    const std::string bmp = ReadWhole(reference / "out.bmp");
    EXPECT_TRUE(sent == bmp) << "the pipe received " << sent.size() << " bytes"
                             << (sent.size() == bmp.size() ? " that differ from" : " instead of")
                             << " the " << bmp.size() << " of the BMP a file receives";
}

TEST_P(BitmapDownAPipe, GetsNothingWhenThePointsFileFails) {
    fs::create_directory(dir_ / "out.txt"); // no points file can be written
    TPipeReader pipe(dir_ / "out.bmp");
    ASSERT_TRUE(pipe.Open());
    // Codes that take as long as the BMP writer needs to get going: with a thread
    // of its own, it has its first piece ready by now.
    if (GetParam() > 1)
        eval_.Progress = [&](int stages) {
            if (stages == 2)
                pipe.AwaitBytes(std::chrono::milliseconds(50));
        };
    TBitmap display(kStackWidth, kStackHeight);
    const TOutcome outcome =
        Attempt([&] { eval_.Evaluate(dir_ / "out.txt", true, display); }, std::nullopt);
    const std::string& sent = pipe.Stop();
    EXPECT_TRUE(outcome.FileError) << outcome.Message;
    EXPECT_NE(outcome.Message.find(dir_ / "out.txt"), std::string::npos) << outcome.Message;
    EXPECT_EQ(sent.size(), 0u) << sent.size()
                               << " bytes of the marked picture went down the pipe, though the "
                                  "points file, written first, failed";
}

std::string ThreadsName(const testing::TestParamInfo<int>& threads) {
    return "Threads" + std::to_string(threads.param);
}

INSTANTIATE_TEST_SUITE_P(, BitmapDownAPipe, testing::Values(1, 2), ThreadsName);

} // namespace
