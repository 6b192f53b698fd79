#pragma once
// Helpers shared by the tests of the sample generator: a small stack's options, the
// evaluator's decoding rule on rendered planes, a tilted camera and 3 × 3 matrices.

#include "SampleCamera.h"
#include "SampleLayout.h"
#include "SampleOptions.h"

#include <array>
#include <cstdint>
#include <map>
#include <vector>

/// A small stack that renders in milliseconds.
TSampleOptions SmallOptions();

/// A point decoded from planes: the mean position of the pixels sharing a code.
struct TDecodedPoint {
    double X = 0, Y = 0;
    int Pixels = 0;
};

/// The evaluator's decoding rule on 17 grey planes: a pixel lies on a lit dot when
/// plane 2 exceeds plane 0 by more than 80; bit l of its code is set when plane l + 2
/// exceeds plane 2 − 30. Pixels sharing a code form a point at their mean position.
std::map<int, TDecodedPoint> DecodePoints(const std::vector<std::vector<std::uint8_t>>& planes,
                                          int width, int height);

/// Every dot decodes to its own code, no pixel to another code, and the point lies
/// within maxError pixels of the dot's centre. A thresholded blob's mean position
/// wobbles by up to ~0.2 pixels with its pixel outline, but over all dots the error
/// averages out: a bias means the centres are rendered off by a constant offset.
void ExpectDecodes(const std::vector<std::vector<std::uint8_t>>& planes, int width, int height,
                   const std::vector<TSampleDot>& dots, double maxError);

/// A camera of fixed intrinsics 1000 / 1100 px, principal point (600, 400), barrel
/// distortion, looking at a target 400 units away, turned by 30° about the camera's
/// y axis.
TSampleCamera TiltedCamera();

/// A 3 × 3 matrix, row by row.
using TMatrix3 = std::array<double, 9>;

TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b);
TMatrix3 Inverse(const TMatrix3& m);
TMatrix3 Transposed(const TMatrix3& m);
