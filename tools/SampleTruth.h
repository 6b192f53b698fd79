#pragma once
// The ground truth of a sample stack as files hold it: the dots' centres in the
// pictures, with a camera their places on the target and the camera itself; and the
// reading of the truth back.

#include "SampleLayout.h"
#include "SampleOptions.h"

#include <cstddef>
#include <string>
#include <vector>

/// The ground-truth table: the line "dot,code,x,y", then one line per dot with x and
/// y to `decimals` decimals (three for a stack without a camera, six with one), '.'
/// as the decimal separator whatever the locale; LF endings.
std::string FormatSampleTruth(const std::vector<TSampleDot>& dots, int decimals = 3);

/// The dots' places on the target: the line "dot,code,target_x,target_y", then one
/// line per dot, the coordinates in the target's units, written so that they read
/// back to the same doubles; LF endings.
std::string FormatSampleTargetTable(const std::vector<TSampleDot>& dots);

/// The camera as a JSON object: "width", "height", "fx", "fy", "cx", "cy", "k1",
/// "k2", "rotation" (the vector), "rotation_matrix" (three rows), "translation", and
/// "target" with "pitch", "dot_radius", "columns", "rows" and "jitter"; then "dots",
/// the number in view. Numbers read back to the same doubles.
std::string FormatSampleCamera(const TSampleOptions& options, std::size_t dots);

/// Reads a table written by FormatSampleTruth. Raises EFileError when the file
/// cannot be read or a line is malformed (the message names file and line).
std::vector<TSampleDot> ReadSampleTruth(const std::string& fileName);
