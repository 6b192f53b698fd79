#pragma once
// Scoring points against the ground truth of a sample stack: which dots were found by
// their code, how far their centres lie from the true ones, and which points are no
// dot's; for points files, point lists in memory and point tables.

#include "SampleLayout.h"
#include "decode/Points.h"

#include <cstddef>
#include <string>
#include <vector>

/// How a points file compares with the ground truth of its stack.
struct TTruthComparison {
    std::size_t Dots = 0;  ///< dots in the truth
    std::size_t Found = 0; ///< dots whose code the points file has
    std::size_t Extra = 0; ///< points whose code no dot carries
    double MeanError = 0;  ///< mean distance of found centres from the true ones, pixels
    double MaxError = 0;   ///< the largest such distance
    std::size_t Far = 0;   ///< found centres more than kFarError pixels from the true ones
    /// Dots found with their centre within kRightError pixels of the true one.
    std::size_t Right = 0;
    /// Points that are no dot's: a code no dot carries (Extra) or a centre more than
    /// kRightError pixels from its dot.
    std::size_t Wrong = 0;
    std::size_t Points = 0; ///< points compared (Found + Extra)
};

/// A centre this far from the true one, in pixels, counts as far off.
inline constexpr double kFarError = 0.5;
/// A found centre at most this far from the true one, in pixels, finds its dot.
inline constexpr double kRightError = 2.0;

/// The plain and the refined centres of a point table, each compared with the truth.
struct TTableComparison {
    TTruthComparison Plain;
    TTruthComparison Refined;
};

/// Matches the lines of a points file ("code x y count") with the dots by code.
/// Raises EFileError when the file cannot be read or a line is malformed.
TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const std::string& pointsFile);

/// The same comparison for a point list in memory, its centres as computed.
TTruthComparison CompareWithTruth(const std::vector<TSampleDot>& truth,
                                  const TUniquePoints& points);

/// Matches the rows of a point table (kelvaron-eval-cli evaluate --table) with the
/// dots by code, for its plain centres (x, y) and its refined ones. Raises EFileError
/// when the file cannot be read, its header does not start with the table's columns
/// or a row is malformed.
TTableComparison CompareTableWithTruth(const std::vector<TSampleDot>& truth,
                                       const std::string& tableFile);
