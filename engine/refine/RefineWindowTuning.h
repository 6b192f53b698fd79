#pragma once
// The figures that tune a refining window: how far it reaches and grows, the level
// above which its light counts, and which neighbours compete for its pixels.

#include <algorithm>

namespace refine_detail {

// Each pixel weighs its light above a level: the background plus kNoiseLevel
// times the noise, kLevel to kMaxLevel of the way from the background to the peak.
// Below it lie the sensor noise and the far tails of neighbouring dots; above it
// the dot's own light, symmetric about its centre. A low level keeps most of the
// dot's light, which matters most for sharp dots.
inline constexpr double kLevel = 0.05;
inline constexpr double kMaxLevel = 0.25;
inline constexpr double kNoiseLevel = 3;
// Light may rise along a ray from the centre by kNoiseLevel times the noise plus
// kQuantum steps of the pictures' own samples (their rounding) before it is clipped.
inline constexpr double kQuantum = 2;
// The first window reaches this far beyond the blob's equivalent radius: at least
// kRimPixels, at least kRimShare of the radius.
inline constexpr double kRimPixels = 3;
inline constexpr double kRimShare = 0.5;

inline double FirstReach(double radius) {
    return radius + std::max(kRimPixels, radius * kRimShare);
}
// The window widens a pixel at a time while lit pixels touch its rim, up to
// kMaxGrowth × radius + kMaxGrowthPixels; so the windows of all points together
// cover a bounded multiple of the picture, whatever the codes.
inline constexpr double kMaxGrowth = 2;
inline constexpr double kMaxGrowthPixels = 12;
// No window reaches farther than this: a blob whose first window would is no dot
// (a wall of one code, say) and is not refined.
inline constexpr double kMaxReach = 128;
// The light around a window is read this much wider than the window, so that a
// window that moves or widens a little needs no new reading.
inline constexpr double kPatchMargin = 2;
// The rim over which the background is taken, as a depth below the window's edge.
inline constexpr double kRingDepth = 1.5;
// The most steps a window takes (each widens it or moves it by a pixel or more).
inline constexpr int kMaxSteps = 40;
// Another point's main blob competes for the pixels between it and this point
// when it has at least this share of this point's blob pixels, or when a gap of
// more than kCompetingGap pixels parts the two blobs' discs. Smaller blobs at this
// blob's edge are fragments that noise cut out of this dot's rim: their light is
// this dot's.
inline constexpr double kCompetingShare = 0.25;
inline constexpr double kCompetingGap = 2;

} // namespace refine_detail
