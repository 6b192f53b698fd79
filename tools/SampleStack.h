#pragma once
// Synthetic sample stacks written to a folder: the 17 photographs a camera would take
// of the coded dot pattern (JPEG, PNG or TIFF, 8 or 16 bits a sample), with a list
// file naming them and a ground-truth table of the dots.
//
// Picture 0 is the dark reference (ambient light only), picture 1 the bright
// reference (projector white everywhere), picture 2 shows every dot, and picture k
// (3 … 16) shows the dots whose code has bit k − 2 set (SampleLayout.h).
//
// The dots are either laid out on a grid in the picture itself, or they are the
// discs of a planar target that a pinhole camera with radial distortion sees from a
// pose (TSampleOptions::Camera): then every pixel is traced back onto the target, so
// the discs appear as ellipses whose size follows the depth, and the ground truth
// holds each dot's projected centre, its place on the target and the camera.

#include "SampleLayout.h"
#include "SampleOptions.h"

#include <string>
#include <vector>

struct TSampleStack {
    std::string ListFile;   ///< path of the 19-line list file
    std::string TruthFile;  ///< path of the ground-truth table
    std::string TargetFile; ///< with a camera: the dots' places on the target, else empty
    std::string CameraFile; ///< with a camera: its intrinsics and pose, else empty
    std::vector<std::string> Photographs; ///< the 17 photograph paths, in plane order
    std::vector<TSampleDot> Dots;
};

/// The photograph file name of picture k: <baseName>_00.jpg … <baseName>_16.jpg, with
/// the extension .png or .tif for those formats.
std::string SamplePictureName(const std::string& baseName, int k,
                              TSampleFormat format = TSampleFormat::Jpeg);

/// Renders and writes a stack into folder (created if missing): <baseName>_00.jpg …
/// <baseName>_16.jpg (or .png, .tif), <baseName>_truth.csv, with a camera also
/// <baseName>_target.csv (FormatSampleTargetTable) and <baseName>_camera.json
/// (FormatSampleCamera), and, last, the list file <baseName>.txt. The list file names
/// the photographs without a folder, relative to its own. PNG and TIFF photographs
/// are grey or RGB, Depth bits a sample.
/// Raises std::invalid_argument for bad options or a base name that is empty or
/// holds a '/', and EFileError when a file or the folder cannot be written.
TSampleStack WriteSampleStack(const std::string& folder, const std::string& baseName,
                              const TSampleOptions& options);
