#pragma once
// The camera of a sample stack: a pinhole camera with radial distortion that
// photographs a planar target of discs from a pose, and its formulas from target
// points to pixels and from pixels back onto the target.

#include <array>
#include <optional>

/// A pinhole camera with radial distortion, in the pixel units of TSampleDot. A point
/// (X, Y, Z) of the camera's frame (Z > 0 in front, X along the rows, Y down the
/// columns) has the normalised coordinates x = X / Z, y = Y / Z; the lens moves them
/// to x d, y d with d = 1 + K1 r² + K2 r⁴, r² = x² + y², and the point lands on
/// column Fx x d + Cx, row Fy y d + Cy.
struct TSampleIntrinsics {
    double Fx = 1200;  ///< focal length in pixel widths
    double Fy = 1200;  ///< focal length in pixel heights
    double Cx = 639.5; ///< column of the principal point
    double Cy = 479.5; ///< row of the principal point
    double K1 = 0;     ///< radial distortion, r² term
    double K2 = 0;     ///< radial distortion, r⁴ term
};

/// Where the target lies as the camera sees it: the target point P = (u, v, 0) of its
/// own frame is at R P + Translation in the camera's, R the rotation of the vector
/// Rotation (its direction the axis, its length the angle in radians).
struct TSamplePose {
    std::array<double, 3> Rotation = {0, 0, 0};
    std::array<double, 3> Translation = {0, 0, 500}; ///< in the target's units
};

/// A planar target of discs on a regular grid, in units of its own (millimetres, say).
/// The grid position at column c and row r carries dot number r × Columns + c and lies
/// at u = (c − (Columns − 1) / 2) Pitch, v = (r − (Rows − 1) / 2) Pitch, the grid
/// centred on the target's origin.
struct TSampleTarget {
    double Pitch = 10;      ///< distance of neighbouring dots
    double DotRadius = 2.2; ///< disc radius; below half the pitch
    int Columns = 48;       ///< grid columns, at least 1
    int Rows = 36;          ///< grid rows; Columns × Rows at most 16384
    /// Dot centres move by up to this much off the grid on the target (0 … Pitch / 4).
    double Jitter = 0;
};

/// The camera that photographs a target, and from where.
struct TSampleCamera {
    TSampleIntrinsics Intrinsics;
    TSamplePose Pose;
    TSampleTarget Target;
};

/// A point on the picture (column, row), on the target (u, v) or in normalised
/// camera coordinates.
struct TSampleXY {
    double X = 0;
    double Y = 0;
};

/// A TSampleCamera's formulas: target points to pixels and pixels back to the target.
class TSampleProjection {
public:
    /// Raises std::invalid_argument when the focal lengths are not positive, a value
    /// is not finite or the camera lies in the target's plane.
    explicit TSampleProjection(const TSampleCamera& camera);

    /// The pixel of target point (u, v); none when it is not in front of the camera or
    /// its undistorted radius reaches FoldRadius().
    std::optional<TSampleXY> ToImage(double u, double v) const;

    /// The target point seen at pixel (x, y): the undistorted ray intersected with the
    /// target's plane; none when the ray meets the plane behind the camera or the
    /// pixel lies beyond the distortion's fold.
    std::optional<TSampleXY> ToTarget(double x, double y) const;

    /// Normalised coordinates moved by the lens.
    TSampleXY Distort(TSampleXY undistorted) const;

    /// The undistorted normalised coordinates whose distorted ones are given, the one
    /// whose radius lies below FoldRadius(); none when there is none.
    std::optional<TSampleXY> Undistort(TSampleXY distorted) const;

    /// The undistorted radius at which the distorted radius r (1 + K1 r² + K2 r⁴)
    /// stops growing; infinity when it grows forever.
    double FoldRadius() const { return foldRadius_; }

    /// The distorted radius at FoldRadius(): the largest a picture may reach.
    double FoldDistortedRadius() const { return foldDistorted_; }

    /// The rotation of the pose, row by row.
    const std::array<double, 9>& Rotation() const { return rotation_; }

private:
    TSampleIntrinsics in_;
    std::array<double, 9> rotation_{};
    std::array<double, 3> translation_{};
    std::array<double, 9> fromPlane_{}; // (x, y, 1) undistorted → target (u, v, 1) times 1/Z
    double foldRadius_ = 0;
    double foldDistorted_ = 0;
};

/// The rotation matrix of a rotation vector (axis times angle in radians), row by row.
std::array<double, 9> SampleRotationMatrix(const std::array<double, 3>& rotation);
