#pragma once
// Stacks built by hand for the evaluator tests, so that every expected code,
// point and pixel is known by construction.

#include "image/Plane.h"
#include "input/Pics.h"
#include "pipeline/Evaluator.h"

#include <cstdint>
#include <iterator>
#include <random>

/// An evaluator holding 17 planes of width × height zeros, its size taken.
inline void MakeStack(TPicEval& eval, std::int32_t width, std::int32_t height) {
    eval.Pics.SetCount(TPicEval::kStackPlanes, width, height);
    eval.Height = height;
    eval.Width = width;
}

/// Sets one pixel of all 17 planes: plane 0 dark, plane 2 lit, and the code planes
/// from bits (bit l − 1 set: plane l + 2 gets `on`, else `off`).
inline void SetDot(TPicEval& eval, std::int32_t row, std::int32_t col, std::uint8_t dark,
                   std::uint8_t lit, std::uint32_t bits, std::uint8_t on, std::uint8_t off) {
    SetPlaneValue(eval.Pics.Planes[0], row, col, dark);
    SetPlaneValue(eval.Pics.Planes[2], row, col, lit);
    for (std::size_t k = 3; k <= 16; ++k)
        SetPlaneValue(eval.Pics.Planes[k], row, col, (bits >> (k - 3)) & 1 ? on : off);
}

/// Fills every plane with random bytes drawn from a few levels, so that equal
/// values, values at the threshold and lit dots all occur often.
inline void FillRandom(TPics& pics, unsigned seed) {
    std::mt19937 random(seed);
    const std::uint8_t levels[] = {0, 1, 20, 29, 30, 31, 80, 81, 100, 110, 111, 170, 200, 254, 255};
    for (TPic& plane : pics.Planes)
        for (std::size_t i = 0; i < plane.Data.size(); ++i)
            plane.Data.data()[i] =
                random() % 3 == 0 ? levels[random() % std::size(levels)] : std::uint8_t(random());
}
