// The camera's formulas: the rotation of a pose, the lens distortion and its
// inverse, and the projection between the target's plane and the pixels.

#include "SampleCamera.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

std::array<double, 9> SampleRotationMatrix(const std::array<double, 3>& r) {
    const double angle = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (angle < 1e-300)
        return {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double x = r[0] / angle, y = r[1] / angle, z = r[2] / angle;
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    return {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
            t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
            t * x * z - s * y, t * y * z + s * x, t * z * z + c};
}

TSampleProjection::TSampleProjection(const TSampleCamera& camera)
    : in_(camera.Intrinsics), translation_(camera.Pose.Translation) {
    const auto finite = [](auto values) {
        return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
    };
    if (!(in_.Fx > 0 && in_.Fy > 0) ||
        !finite(std::array{in_.Fx, in_.Fy, in_.Cx, in_.Cy, in_.K1, in_.K2}) ||
        !finite(camera.Pose.Rotation) || !finite(translation_))
        throw std::invalid_argument("sample camera: focal lengths must be positive and every "
                                    "intrinsic and pose value finite");
    rotation_ = SampleRotationMatrix(camera.Pose.Rotation);
    const std::array<double, 9>& R = rotation_;
    const std::array<double, 3>& t = translation_;
    // The target's plane maps to the undistorted image by the columns r1, r2, t; its
    // determinant r3 · t is the camera's distance from the plane.
    const double m[9] = {R[0], R[1], t[0], R[3], R[4], t[1], R[6], R[7], t[2]};
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    const double distance = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    if (!(std::abs(det) > 1e-9 * distance))
        throw std::invalid_argument("sample camera lies in the plane of the target");
    fromPlane_ = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
                  (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
                  (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
                  (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
                  (m[0] * m[4] - m[1] * m[3]) / det};

    // d(r · (1 + K1 r² + K2 r⁴)) / dr = 1 + 3 K1 r² + 5 K2 r⁴ first vanishes at the
    // smallest positive root s = r² of 5 K2 s² + 3 K1 s + 1.
    const double a = 5 * in_.K2, b = 3 * in_.K1;
    double root = INFINITY;
    if (a == 0) {
        if (b < 0)
            root = -1 / b;
    } else {
        const double disc = b * b - 4 * a;
        if (disc >= 0) {
            const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
            for (const double s : {q / a, q != 0 ? 1 / q : INFINITY})
                if (s > 0)
                    root = std::min(root, s);
        }
    }
    foldRadius_ = std::sqrt(root);
    foldDistorted_ =
        std::isinf(root) ? INFINITY : foldRadius_ * (1 + in_.K1 * root + in_.K2 * root * root);
}

TSampleXY TSampleProjection::Distort(TSampleXY p) const {
    const double r2 = p.X * p.X + p.Y * p.Y;
    const double d = 1 + r2 * (in_.K1 + r2 * in_.K2);
    return {p.X * d, p.Y * d};
}

std::optional<TSampleXY> TSampleProjection::Undistort(TSampleXY p) const {
    const double rd = std::hypot(p.X, p.Y);
    if (!(rd < foldDistorted_))
        return std::nullopt;
    if (rd == 0 || (in_.K1 == 0 && in_.K2 == 0))
        return p;
    // Newton's method on r (1 + K1 r² + K2 r⁴) = rd, which rises steadily on
    // [0, FoldRadius()); a step that leaves the bracket is replaced by bisection.
    double lo = 0, hi = std::min(foldRadius_, 2 * rd + 1);
    while (hi * (1 + hi * hi * (in_.K1 + hi * hi * in_.K2)) < rd && hi < foldRadius_)
        hi = std::min(foldRadius_, 2 * hi);
    double r = std::min(rd, hi);
    for (int step = 0; step < 100; ++step) {
        const double r2 = r * r;
        const double f = r * (1 + r2 * (in_.K1 + r2 * in_.K2)) - rd;
        if (f == 0)
            break;
        (f < 0 ? lo : hi) = r;
        const double slope = 1 + r2 * (3 * in_.K1 + 5 * r2 * in_.K2);
        double next = slope > 0 ? r - f / slope : lo - 1;
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        const bool done = std::abs(next - r) <= 1e-15 * std::max(1.0, r);
        r = next;
        if (done)
            break;
    }
    const double scale = r / rd;
    return TSampleXY{p.X * scale, p.Y * scale};
}

std::optional<TSampleXY> TSampleProjection::ToImage(double u, double v) const {
    const std::array<double, 9>& R = rotation_;
    const double x = R[0] * u + R[1] * v + translation_[0];
    const double y = R[3] * u + R[4] * v + translation_[1];
    const double z = R[6] * u + R[7] * v + translation_[2];
    if (!(z > 0))
        return std::nullopt;
    const TSampleXY normal{x / z, y / z};
    if (!(std::hypot(normal.X, normal.Y) < foldRadius_))
        return std::nullopt;
    const TSampleXY d = Distort(normal);
    return TSampleXY{in_.Fx * d.X + in_.Cx, in_.Fy * d.Y + in_.Cy};
}

std::optional<TSampleXY> TSampleProjection::ToTarget(double x, double y) const {
    const std::optional<TSampleXY> p = Undistort({(x - in_.Cx) / in_.Fx, (y - in_.Cy) / in_.Fy});
    if (!p)
        return std::nullopt;
    const std::array<double, 9>& H = fromPlane_;
    const double w = H[6] * p->X + H[7] * p->Y + H[8];
    if (!(w > 0))
        return std::nullopt;
    return TSampleXY{(H[0] * p->X + H[1] * p->Y + H[2]) / w,
                     (H[3] * p->X + H[4] * p->Y + H[5]) / w};
}
