#pragma once
// The fold of a streamed evaluation (TStreamEval::TFold), shared by the threads
// that decode its photographs: which rows hold a lit dot, as rows of pictures 0 and
// 2 come in, each code picture's rows folded into one bit a pixel as they come, and
// at the end the codes and points gathered from those bits. Included by
// StreamEval.cpp and StreamFold.cpp alone.

#include "base/Clock.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "base/Transpose.h"
#include "decode/CodeBits.h"
#include "files/FileUtil.h"
#include "input/PicSet.h"
#include "input/PictureInput.h"
#include "input/PlaneArray.h"
#include "pipeline/StreamEval.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// What the decoding threads share: which rows hold a lit dot, as rows of pictures 0
// and 2 come in, and the code pictures' bits.
class TStreamEval::TFold {
public:
    /// The code pictures, 3 … 16, whose bits are kept.
    static constexpr std::int32_t kCodePictures = TPicEval::kStackPlanes - 3;
    static_assert(kCodePictures == kBitRowPictures);

    /// Raised inside a photograph's decoding once a lower photograph's has failed:
    /// its own result can no longer matter.
    struct TAbandoned {};

    TFold(TStreamEval& eval, const TPictureSettings& settings,
          const std::vector<std::string>& names, bool deep, bool forTable)
        : eval_(eval), settings_(settings), names_(names), deep_(deep), forTable_(forTable),
          suggest_(eval.Request().Automatic()), width_(eval.Width), height_(eval.Height),
          stride_((std::size_t(eval.Width) + 7) / 8),
          rowState_(std::make_unique<std::atomic<std::uint8_t>[]>(std::size_t(eval.Height))),
          rowHasDot_(std::size_t(eval.Height), 0) {
        eval.Dark.SetSize(width_, height_);
        eval.Lit.SetSize(width_, height_);
        eval.DeepDark = TDeepPic{};
        eval.DeepLit = TDeepPic{};
        eval.refined_.reset();
        eval.tableText_.clear();
        eval.Suggestion.reset();
        if (deep) {
            eval.DeepDark.SetSize(width_, height_);
            eval.DeepLit.SetSize(width_, height_);
        }
        for (TGrid<std::uint8_t>& bits : bits_)
            bits.Resize(height_, std::int32_t(stride_));
        if (suggest_)
            for (TPic& picture : held_)
                picture.SetSize(width_, height_);
        for (std::int32_t row = 0; row < height_; ++row)
            rowState_[std::size_t(row)].store(0, std::memory_order_relaxed);
    }

    /// Decodes photograph index into what stays of it; false when it is missing.
    bool Decode(std::int32_t index);

    /// The codes, the points and, with forTable, the refined centres, once: by the
    /// thread that brought in the last picture they need, while the bright
    /// reference, which they do not need, may still be decoding; or by the caller
    /// once every photograph is in. What it raises is kept for Settled.
    void Settle();

    /// After every photograph is in: Settle, unless it ran, and what it raised.
    void Settled() {
        Settle();
        if (settleError_)
            std::rethrow_exception(settleError_);
    }

    /// Pictures 0 and 2 are in whole (a picture set): every row is settled.
    void SettleAll(int threads);

    /// Loads the pictures the settings are chosen from beside pictures 0 and 2, of a
    /// picture set, whose plane files files names.
    void LoadHeld(const std::vector<std::string>& files) {
        for (const std::int32_t index : kLevelPictures)
            LoadPlane(HeldPicture(index), files[std::size_t(index)]);
    }

    /// Whether picture index is read whole, for the settings to be chosen from.
    bool Held(std::int32_t index) const {
        return suggest_ && (index == kLevelPictures[0] || index == kLevelPictures[1]);
    }

    /// Folds the column-ordered plane file of picture index (3 … 16) into its bits,
    /// a stretch of columns at a time turned into rows; picture 1 is only read.
    /// Raises EFileError when the file cannot be read whole.
    void FoldPlaneFile(std::int32_t index, const std::string& fileName);

    /// Loads the pictures the settings are chosen from beside pictures 0 and 2 from
    /// planes held in memory.
    void LoadHeld(const TPlaneArray& planes, int threads) {
        for (const std::int32_t index : kLevelPictures)
            planes.CopyPlane(index, HeldPicture(index), threads);
    }

    /// Folds picture index (3 … 16) of planes held in memory into its bits, row by
    /// row where they lie.
    void FoldArrayPlane(std::int32_t index, const TPlaneArray& planes);

    /// The codes and points with their centres, once every photograph they need is
    /// in; the evaluator's Timings start here.
    void Gather(int threads, bool forTable);

private:
    // Row state: how many of pictures 0 and 2 have the row in (0 … 2), then
    // kSettled once it is known whether the row holds a lit dot.
    static constexpr std::uint8_t kSettled = 3;

    class TSink final : public TPictureRowSink {
    public:
        TSink(TFold& fold, std::int32_t index) : fold_(fold), index_(index) {}

        void Begin(const TPictureLayout& layout) override {
            const std::int32_t width = layout.Width, height = layout.Height;
            if (width != fold_.width_ || height != fold_.height_)
                throw EPictureError(
                    "Cannot decode " + QuotedName(fold_.names_[std::size_t(index_)]) +
                    ": the picture is " + SizeText(width, height) +
                    " pixels now, but its header said " + SizeText(fold_.width_, fold_.height_) +
                    " when the list was read");
            if (index_ == 0 && fold_.deep_)
                fold_.eval_.DeepDark.SourceMax = layout.MaxValue;
            if (index_ == 2 && fold_.deep_)
                fold_.eval_.DeepLit.SourceMax = layout.MaxValue;
            if (index_ != 0 && index_ != 2)
                buffer_.resize(std::size_t(width));
        }
        bool Needed(std::int32_t first, std::int32_t count) override {
            fold_.CheckNotAbandoned(index_);
            if (index_ == 0 || index_ == 2 || fold_.Held(index_))
                return true;
            if (index_ == 1)
                return false;
            const std::int32_t end = std::min(first + count, fold_.height_);
            bool any = false;
            for (std::int32_t row = first; row < end && !any; ++row)
                any = fold_.WaitForRow(row) && fold_.rowHasDot_[std::size_t(row)];
            return any;
        }
        std::uint8_t* RowBuffer(std::int32_t row) override {
            if (index_ == 0)
                return fold_.eval_.Dark.Data[row];
            if (index_ == 2)
                return fold_.eval_.Lit.Data[row];
            if (fold_.Held(index_))
                return fold_.HeldPicture(index_).Data[row];
            return buffer_.data();
        }
        std::uint16_t* DeepRowBuffer(std::int32_t row) override {
            if (!fold_.deep_ || (index_ != 0 && index_ != 2))
                return nullptr;
            return (index_ == 0 ? fold_.eval_.DeepDark : fold_.eval_.DeepLit).Data[row];
        }
        void RowDone(std::int32_t row) override {
            if (index_ == 0 || index_ == 2) {
                fold_.RowIn(row, index_);
                return;
            }
            fold_.CheckNotAbandoned(index_);
            if (index_ == 1 || fold_.Held(index_) || !fold_.WaitForRow(row) ||
                !fold_.rowHasDot_[std::size_t(row)])
                return;
            FoldRow(buffer_.data(), fold_.eval_.Lit.Data[row], fold_.Bits(index_ - 3, row),
                    fold_.width_, fold_.eval_.Tolerance);
        }

    private:
        TFold& fold_;
        const std::int32_t index_;
        std::vector<std::uint8_t> buffer_;
    };

    std::uint8_t* Bits(std::int32_t codePicture, std::int32_t row) {
        return bits_[std::size_t(codePicture)][row];
    }

    // A row of picture 0 or 2 (index) is in; the second of them tells whether the
    // row holds a lit dot. With a tolerance of 0 no pixel gets a code: no row needs
    // the code pictures. Where the settings are still to be chosen, the row's
    // contrast is counted instead, and the row waits for them.
    void RowIn(std::int32_t row, std::int32_t index);

    // Whether row holds a lit dot, from pictures 0 and 2 and the settings.
    void SettleRow(std::int32_t row) {
        rowHasDot_[std::size_t(row)] =
            eval_.Tolerance > 0 &&
                    RowHasDot(eval_.Dark.Data[row], eval_.Lit.Data[row], width_, eval_.MinDif)
                ? 1
                : 0;
        rowState_[std::size_t(row)].store(kSettled, std::memory_order_seq_cst);
    }

    // Whether the settings are chosen from picture index.
    bool ChoiceReads(std::int32_t index) const { return index == 0 || index == 2 || Held(index); }

    TPic& HeldPicture(std::int32_t index) { return held_[index == kLevelPictures[0] ? 0 : 1]; }

    // Every picture the settings are chosen from is in (with its contrast counted,
    // where counted): the settings are chosen, the rows settled, and the pictures
    // read whole for the choice folded into their bits and let go.
    void ChooseAndSettle(int threads, bool counted);

    // Waits until row is settled (pictures 0 and 2 in); false when it never will be
    // (the load fails, so no code is needed).
    bool WaitForRow(std::int32_t row);

    // No code will be needed: nobody waits for rows any more.
    void Lose() {
        std::lock_guard lock(mutex_);
        lost_.store(true, std::memory_order_seq_cst);
        changed_.notify_all();
    }

    // Photograph index failed: the photographs after it need not go on.
    void Fail(std::int32_t index) {
        std::int32_t lowest = lowestFailure_.load();
        while (index < lowest && !lowestFailure_.compare_exchange_weak(lowest, index)) {
        }
        Lose();
    }

    // Raises TAbandoned once a lower photograph has failed, and what CheckStop raises.
    void CheckNotAbandoned(std::int32_t index) const {
        if (lowestFailure_.load(std::memory_order_relaxed) < index)
            throw TAbandoned{};
        eval_.CheckStopped();
    }

    // The runs of the codes of one row that holds a lit pixel, as the full stack's
    // codes give them (ForEachCodeRun), into runs. dots: room for the row's bits of
    // the pixels on a lit dot.
    void RowRuns(std::int32_t row, std::uint8_t* dots, std::vector<TCodeRun>& runs) const {
        DotRow(eval_.Dark.Data[row], eval_.Lit.Data[row], dots, width_, eval_.MinDif);
        const std::uint8_t* bits[kCodePictures];
        for (std::int32_t p = 0; p < kCodePictures; ++p)
            bits[p] = bits_[std::size_t(p)][row];
        BitRowRuns(dots, bits, width_, runs);
    }

    TStreamEval& eval_;
    const TPictureSettings settings_;
    const std::vector<std::string>& names_;
    const bool deep_;     // pictures 0 and 2 are kept at full depth too
    const bool forTable_; // what the point table needs is kept, and refined
    const bool suggest_;  // the settings are chosen once the pictures are in
    const std::int32_t width_;
    const std::int32_t height_;
    const std::size_t stride_;
    std::array<TGrid<std::uint8_t>, kCodePictures> bits_; // per code picture, from picture 3
    // Where the settings are chosen: the pictures they are chosen from beside 0 and
    // 2, whole until then, and the contrast of every pixel, of the rows that picture
    // 0 brought in second and of those picture 2 did.
    std::array<TPic, 2> held_;
    std::array<TLevelCounts, 2> contrast_;
    std::atomic<int> choicePending_{4}; // pictures the settings are chosen from
    std::unique_ptr<std::atomic<std::uint8_t>[]> rowState_;
    std::vector<std::uint8_t> rowHasDot_; // written as the row settles
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<int> waiters_{0};
    std::atomic<bool> lost_{false};
    std::atomic<std::int32_t> lowestFailure_{TPicEval::kStackPlanes};
    // Photographs the codes still wait for: all but the bright reference.
    std::atomic<int> codesPending_{TPicEval::kStackPlanes - 1};
    std::atomic<bool> settling_{false};
    std::exception_ptr settleError_; // written by the one Settle that runs
};
