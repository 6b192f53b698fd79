#pragma once
// The dots of a sample stack: their numbers and codes, where they lie in the
// pictures (on a grid of the picture's own, or the target's discs as the camera sees
// them), and which pictures light them.
//
// Dot n carries code 2n + 1: bit 0 says "lit in picture 2", bits 1 … 14 are the bits
// of n. Picture 0 is the dark reference, picture 1 the bright one, picture 2 shows
// every dot and picture k (3 … 16) the dots whose code has bit k − 2 set.

#include "SampleOptions.h"

#include <vector>

/// One dot of the pattern. Pixel (column, row) covers [column − 0.5, column + 0.5] ×
/// [row − 0.5, row + 0.5], so X and Y are in the units of a pixel's column and row.
struct TSampleDot {
    int Number;
    int Code;           ///< 2 × Number + 1 for the dots LayoutSampleDots makes (see DistinctCodes)
    double X;           ///< column of the centre
    double Y;           ///< row of the centre
    double Gain = 1;    ///< the dot's light relative to options.Brightness
    double TargetX = 0; ///< with a camera: the centre on the target, in its units
    double TargetY = 0; ///< with a camera: the centre on the target, in its units
};

/// The dots on a regular grid, numbered row by row from the top left (or in a random
/// order with Shuffle), centred in the picture with a margin of at least one pitch
/// and room for the blur. When the grid has more cells than may be numbered, the
/// rows from the top are filled and the filled block is centred. Centres are
/// jittered and gains spread with the seed.
///
/// With a camera: the target's dots (the first MaxDots grid positions, jittered on
/// the target, numbered and shuffled likewise) whose whole image, blur included, lies
/// inside the picture, at their projected centres, in grid order. Dots partly
/// behind the camera or beyond the reach of the distortion model are left out.
/// Raises std::invalid_argument when a dot in view would span more than
/// kSampleMaxDotImage pixels.
std::vector<TSampleDot> LayoutSampleDots(const TSampleOptions& options);

/// With a camera, the widest a dot's image may be, in pixels.
inline constexpr int kSampleMaxDotImage = 256;

/// True when the dot is lit in picture k: never in 0, always in 1, and in k ≥ 2 when
/// bit k − 2 of its code is set.
bool SampleDotLit(const TSampleDot& dot, int k);
