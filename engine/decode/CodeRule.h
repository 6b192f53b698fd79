#pragma once
// The code rule, which every way of decoding a stack follows. Plane 0 is the dark
// reference, plane 2 shows every dot lit; planes 2 … 16 give bits 0 … 14 of a code.
//
// A pixel lies on a lit dot where plane 2 exceeds plane 0 by more than minDif; its
// threshold is then plane 2 − tolerance, elsewhere 256, which no value exceeds. Bit
// l of its code is set where plane l + 2 lies above the threshold, and only codes
// whose bit 0 is set are kept: the others are 0. Values are whole numbers, so the
// comparisons are exact in integers.
//
// The loops over whole pictures use the forms below; the AVX2 kernels of
// decode/CodeBits.cpp compute OnLitDot and FoldedBit for 32 pixels at a time.

#include <cstdint>

/// Whether a pixel lies on a lit dot: lit exceeds dark by more than minDif.
constexpr bool OnLitDot(int dark, int lit, int minDif) {
    return lit - dark > minDif;
}

/// The threshold of a pixel with these values of planes 0 and 2.
constexpr int PixelThreshold(int dark, int lit, int minDif, int tolerance) {
    return OnLitDot(dark, lit, minDif) ? lit - tolerance : 256;
}

/// Whether a code picture's value sets its bit of the code: it lies above the
/// threshold.
constexpr bool CodeBit(int value, int threshold) {
    return value > threshold;
}

/// CodeBit on a lit dot, folded so that it needs plane 2 alone: value > lit −
/// tolerance exactly when value + tolerance > lit. Off a lit dot no bit counts.
constexpr bool FoldedBit(int value, int lit, int tolerance) {
    return value + tolerance > lit;
}

/// The code a pixel keeps of its bits: they, where bit 0 (plane 2 above its own
/// threshold) is set; else 0.
constexpr std::int32_t KeptCode(std::int32_t bits) {
    return (bits & 1) != 0 ? bits : 0;
}
