#pragma once
// Planes and evaluations held in memory, for the tests of the plane array and of
// the evaluations of an input: planes laid out as a caller might hold them, the
// files an evaluation writes, a small sample loaded whole, a stop request that
// comes after a number of checks.

#include "SampleStack.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "input/PicSet.h"
#include "input/PictureRows.h"
#include "input/PlaneArray.h"
#include "pipeline/EvaluateInput.h"
#include "pipeline/Evaluator.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

/// An array over data with the given shape, strides and largest value.
inline TPlaneArray Planes(const std::uint8_t* data, std::int32_t count, std::int32_t height,
                          std::int32_t width, int bytes, std::int64_t planeStride,
                          std::int64_t rowStride, std::int64_t columnStride,
                          std::uint32_t maxValue) {
    TPlaneArray a;
    a.Data = data;
    a.Count = count;
    a.Height = height;
    a.Width = width;
    a.BytesPerValue = bytes;
    a.PlaneStride = planeStride;
    a.RowStride = rowStride;
    a.ColumnStride = columnStride;
    a.MaxValue = maxValue;
    return a;
}

/// Planes laid out as a caller might hold them, over one block of memory.
struct THeldPlanes {
    std::vector<std::uint8_t> Memory;
    TPlaneArray Array;
};

/// How held planes lie: row by row, column by column (Fortran order), every axis
/// backwards, or every other byte.
enum class TLayout { Rows, Columns, Reversed, EveryOther };

/// The planes of a whole stack's load, copied into layout.
inline THeldPlanes Hold(const TPics& pics, TLayout layout) {
    const std::int32_t count = pics.Count(), height = pics.Planes[0].Height,
                       width = pics.Planes[0].Width;
    THeldPlanes held;
    const std::int64_t spread = layout == TLayout::EveryOther ? 2 : 1;
    held.Memory.assign(std::size_t(count * height * width * spread), 0xAA);
    TPlaneArray& a = held.Array;
    a.Count = count;
    a.Height = height;
    a.Width = width;
    std::int64_t origin = 0;
    switch (layout) {
    case TLayout::Rows:
        a.PlaneStride = std::int64_t(height) * width, a.RowStride = width, a.ColumnStride = 1;
        break;
    case TLayout::Columns: // Fortran order
        a.PlaneStride = 1, a.RowStride = count, a.ColumnStride = std::int64_t(count) * height;
        break;
    case TLayout::Reversed: // every axis backwards
        a.PlaneStride = -std::int64_t(height) * width, a.RowStride = -width, a.ColumnStride = -1;
        origin = std::int64_t(held.Memory.size()) - 1;
        break;
    case TLayout::EveryOther:
        a.PlaneStride = 2 * std::int64_t(height) * width, a.RowStride = 2 * width,
        a.ColumnStride = 2;
        break;
    }
    for (std::int32_t p = 0; p < count; ++p)
        for (std::int32_t r = 0; r < height; ++r)
            for (std::int32_t c = 0; c < width; ++c)
                held.Memory[std::size_t(origin + p * a.PlaneStride + r * a.RowStride +
                                        c * a.ColumnStride)] =
                    pics.Planes[std::size_t(p)].Data[r][c];
    a.Data = held.Memory.data() + origin;
    return held;
}

/// The points file, the marked picture and the table of an evaluation, as bytes.
struct TFiles {
    std::vector<std::uint8_t> Points, Bitmap, Table;
    bool operator==(const TFiles&) const = default;
};

/// The files held writes, named name.* in dir (the table when it was refined).
inline TFiles Written(const TEvaluation& held, const TTempDir& dir, const std::string& name) {
    held.Write(dir / (name + ".txt"), true, held.IsRefined ? dir / (name + ".csv") : "");
    return {ReadFileBytes(dir / (name + ".txt")), ReadFileBytes(dir / (name + ".bmp")),
            held.IsRefined ? ReadFileBytes(dir / (name + ".csv")) : std::vector<std::uint8_t>{}};
}

/// The files EvaluateInput writes for request, named name.* in dir (the table when
/// request.Refine).
inline TFiles Evaluated(TEvaluateRequest request, const TTempDir& dir, const std::string& name) {
    request.Points = dir / (name + ".txt");
    request.Table = request.Refine ? dir / (name + ".csv") : "";
    EvaluateInput(request);
    return {ReadFileBytes(dir / (name + ".txt")), ReadFileBytes(dir / (name + ".bmp")),
            request.Refine ? ReadFileBytes(dir / (name + ".csv")) : std::vector<std::uint8_t>{}};
}

/// A small shuffled, noisy sample of 150 × 110 pixels.
inline TSampleOptions SmallSample() {
    TSampleOptions options;
    options.Width = 150;
    options.Height = 110;
    options.Spacing = 13;
    options.Shuffle = true;
    options.Noise = 4;
    options.Threads = 2;
    return options;
}

/// The small sample in a folder of its own: its photographs, its planes loaded
/// whole, and the picture set "set.bbf" saved from them.
struct TLoadedSample {
    TTempDir Dir;
    TSampleStack Sample = WriteSampleStack(Dir.path(), "s", SmallSample());
    TPicEval Eval;
    TLoadedSample() {
        TLoadOptions load;
        load.BaseFolder = Dir.path();
        if (!Eval.LoadPictures(Sample.ListFile, false, kChannelGrey, load))
            throw std::runtime_error("the sample did not load: " + Eval.Pics.LastError());
        SavePicSet(Eval.Pics, Dir / "set.bbf", true);
    }
};

/// Raises EStopped at its calls after the first `after` ones; thread-safe.
struct TStopAfter {
    explicit TStopAfter(int after) : left(after) {}
    std::atomic<int> left;
    std::atomic<int> calls{0};
    std::function<void()> Check() {
        return [this] {
            ++calls;
            if (--left < 0)
                throw EStopped();
        };
    }
};
