// The fold of a streamed evaluation: its longer steps.

#include "pipeline/StreamFold.h"

bool TStreamEval::TFold::Decode(std::int32_t index) {
    TSink sink(*this, index);
    bool found = false;
    try {
        found = DecodePictureRows(names_[std::size_t(index)], settings_, sink);
    } catch (const TAbandoned&) {
        throw;
    } catch (...) {
        Fail(index);
        throw;
    }
    if (!found) {
        Lose(); // the load fails: no codes are needed any more
        return false;
    }
    if (index == 2)
        eval_.StartBitmap();
    if (suggest_ && ChoiceReads(index) &&
        choicePending_.fetch_sub(1, std::memory_order_acq_rel) == 1)
        ChooseAndSettle(ThreadsFor(eval_.Threads), true);
    if (index != 1 && codesPending_.fetch_sub(1, std::memory_order_acq_rel) == 1)
        Settle();
    return true;
}

void TStreamEval::TFold::Settle() {
    if (settling_.exchange(true, std::memory_order_acq_rel))
        return;
    try {
        eval_.CheckStopped();
        Gather(ThreadsFor(eval_.Threads), forTable_);
        eval_.CheckStopped();
        if (forTable_) {
            const auto start = std::chrono::steady_clock::now();
            eval_.Refine();
            eval_.Timings.Table = SecondsSince(start);
        }
    } catch (...) {
        settleError_ = std::current_exception();
    }
}

void TStreamEval::TFold::SettleAll(int threads) {
    if (suggest_) {
        ChooseAndSettle(threads, false);
        return;
    }
    ForEachBand(height_, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        for (std::int32_t row = begin; row < end; ++row) {
            rowState_[std::size_t(row)].store(1, std::memory_order_relaxed);
            RowIn(row, 2);
        }
    });
}

void TStreamEval::TFold::FoldPlaneFile(std::int32_t index, const std::string& fileName) {
    constexpr std::int32_t kColumns = 64; // a multiple of 8: whole bytes of bits
    const TInputFile file(fileName);
    const std::size_t column = std::size_t(height_);
    std::vector<std::uint8_t> columns(column * kColumns);
    std::vector<std::uint8_t> rows(column * kColumns);
    for (std::int32_t first = 0; first < width_; first += kColumns) {
        eval_.CheckStopped();
        const std::int32_t count = std::min(kColumns, width_ - first);
        const std::size_t bytes = column * std::size_t(count);
        if (ReadAt(file, fileName, columns.data(), bytes, std::uint64_t(first) * column) < bytes)
            throw EFileError("Cannot read " + QuotedName(fileName) + ": it is too short.");
        if (index < 3)
            continue;
        TransposeBytes(columns.data(), column, std::size_t(count), column, rows.data(), kColumns);
        for (std::int32_t row = 0; row < height_; ++row)
            if (rowHasDot_[std::size_t(row)])
                FoldRow(rows.data() + std::size_t(row) * kColumns, eval_.Lit.Data[row] + first,
                        Bits(index - 3, row) + first / 8, count, eval_.Tolerance);
    }
}

void TStreamEval::TFold::FoldArrayPlane(std::int32_t index, const TPlaneArray& planes) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width_));
    for (std::int32_t row = 0; row < height_; ++row) {
        if ((row & 255) == 0)
            eval_.CheckStopped();
        if (rowHasDot_[std::size_t(row)])
            FoldRow(planes.Row(index, row, buffer.data()), eval_.Lit.Data[row],
                    Bits(index - 3, row), width_, eval_.Tolerance);
    }
}

void TStreamEval::TFold::Gather(int threads, bool forTable) {
    const auto start = std::chrono::steady_clock::now();
    TCode& codes = eval_.CodeMatrix;
    const bool keepCodes = eval_.KeepCodeMatrix;
    if (keepCodes)
        codes.Resize(height_, width_);
    TCodeGathering gathering(std::min(threads, std::max(1, height_)));
    const int bands = gathering.BandCount();
    TCodeRunsBuilder runs(width_, height_, forTable ? bands : 1);
    ForEachBand(height_, bands, bands, [&](int band, std::int32_t begin, std::int32_t end) {
        std::vector<std::uint8_t> dots(stride_);
        std::vector<TCodeRun> rowRuns;
        for (std::int32_t row = begin; row < end; ++row) {
            if (((row - begin) & 255) == 0)
                eval_.CheckStopped();
            if (!rowHasDot_[std::size_t(row)])
                continue;
            RowRuns(row, dots.data(), rowRuns);
            gathering.AddRuns(band, rowRuns.data(), rowRuns.size(), row);
            if (forTable)
                runs.AddRuns(band, row, rowRuns.data(), rowRuns.size());
            if (keepCodes)
                for (const TCodeRun& run : rowRuns)
                    std::fill(codes.Data[row] + run.Begin, codes.Data[row] + run.End, run.Code);
        }
    });
    eval_.Runs = runs.Finish();
    eval_.Points.Reset();
    eval_.Points.AddGathered(gathering);
    eval_.Points.Trim();
    eval_.Timings = TEvalTimings{};
    eval_.Timings.Matrix = SecondsSince(start);
    const auto centres = std::chrono::steady_clock::now();
    eval_.Points.CalcCentres();
    eval_.Timings.Points = SecondsSince(centres);
}

void TStreamEval::TFold::RowIn(std::int32_t row, std::int32_t index) {
    std::atomic<std::uint8_t>& state = rowState_[std::size_t(row)];
    if (state.fetch_add(1, std::memory_order_acq_rel) != 1)
        return;
    if (suggest_) {
        AddContrastRow(contrast_[index == 0 ? 0 : 1], eval_.Dark.Data[row], eval_.Lit.Data[row],
                       width_);
        return;
    }
    SettleRow(row);
    if (waiters_.load(std::memory_order_seq_cst) > 0) {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
}

void TStreamEval::TFold::ChooseAndSettle(int threads, bool counted) {
    TLevelCounts contrast = contrast_[0];
    contrast.Add(contrast_[1]);
    const TSuggestion suggestion =
        ChooseSettings(CountSettings(eval_.Dark, eval_.Lit, {&held_[0], &held_[1]}, eval_.Request(),
                                     threads, counted ? &contrast : nullptr),
                       eval_.Request());
    eval_.MinDif = suggestion.MinDif;
    eval_.Tolerance = suggestion.Tolerance;
    eval_.Suggestion = suggestion;
    ForEachBand(height_, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        for (std::int32_t row = begin; row < end; ++row) {
            SettleRow(row);
            if (!rowHasDot_[std::size_t(row)])
                continue;
            for (const std::int32_t index : kLevelPictures)
                FoldRow(HeldPicture(index).Data[row], eval_.Lit.Data[row], Bits(index - 3, row),
                        width_, eval_.Tolerance);
        }
    });
    for (TPic& picture : held_)
        picture = TPic{};
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

bool TStreamEval::TFold::WaitForRow(std::int32_t row) {
    std::atomic<std::uint8_t>& state = rowState_[std::size_t(row)];
    if (state.load(std::memory_order_acquire) == kSettled)
        return true;
    std::unique_lock lock(mutex_);
    waiters_.fetch_add(1, std::memory_order_seq_cst);
    while (state.load(std::memory_order_seq_cst) != kSettled &&
           !lost_.load(std::memory_order_seq_cst))
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    waiters_.fetch_sub(1, std::memory_order_seq_cst);
    return state.load(std::memory_order_acquire) == kSettled;
}
