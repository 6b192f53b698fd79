#pragma once
// A photograph's rows on their way into planes: which channel is kept, how samples
// of any depth become plane values, and the sink that takes the rows.

#include "image/Plane.h"

#include <cstdint>
#include <vector>

/// Channel selector: which byte of a photograph's pixel becomes the plane value.
enum : std::uint8_t { kChannelRed = 0, kChannelGreen = 1, kChannelBlue = 2, kChannelGrey = 3 };

/// How a photograph's samples become plane values.
struct TPictureSettings {
    /// 0 red, 1 green, 2 blue, anything else the grey mix; a grey picture gives its
    /// values whatever the channel.
    std::uint8_t Channel = kChannelGrey;
    /// 16-bit pictures: their samples' largest value is 2^Bits − 1 (cameras that
    /// store 10- or 12-bit values unscaled), 1 … 16. 0: 65535, or a TIFF's
    /// MaxSampleValue. Other depths ignore it.
    int Bits = 0;
};

/// The largest sample of b bits (0 … 32): 2^b − 1.
constexpr std::uint32_t LargestSample(int bits) {
    return std::uint32_t((std::uint64_t(1) << bits) - 1);
}

/// A sample v of a picture whose samples' largest value is maxValue (M, at least 1)
/// as a plane value: v·255/M rounded to the nearest integer, an exact half upward;
/// 255 for any v above M. 8-bit samples (M = 255) stay as they are.
constexpr std::uint8_t SampleToPlane(std::uint32_t v, std::uint32_t maxValue) {
    if (v >= maxValue)
        return 255;
    return std::uint8_t((510 * std::uint64_t(v) + maxValue) / (2 * std::uint64_t(maxValue)));
}

/// The same sample at full depth: v·65535/M rounded as SampleToPlane rounds,
/// 65535 for any v above M.
constexpr std::uint16_t SampleToDeep(std::uint32_t v, std::uint32_t maxValue) {
    if (v >= maxValue)
        return 65535;
    return std::uint16_t((131070 * std::uint64_t(v) + maxValue) / (2 * std::uint64_t(maxValue)));
}

/// What a decoder tells its sink before the first row.
struct TPictureLayout {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    /// The samples' largest value M: one step of them is 65535 / M full-depth units.
    std::uint32_t MaxValue = 255;
};

/// Takes in a photograph's values row by row, from the top.
class TPictureRowSink {
public:
    /// The picture's size, once its header is read and checked; called before any
    /// other member. May raise, which ends the decoding.
    virtual void Begin(const TPictureLayout& layout) = 0;
    /// Whether any of rows first … first + count − 1 is needed. Rows that are not
    /// may be passed over without being made, their data still read and checked,
    /// and are then not handed over. Asked before the first of them is handed over;
    /// a decoder that makes rows in bands may ask for a band and then for single
    /// rows of it.
    virtual bool Needed(std::int32_t first, std::int32_t count) = 0;
    /// Where the width values of row are to go; valid until RowDone(row).
    virtual std::uint8_t* RowBuffer(std::int32_t row) = 0;
    /// Where the width full-depth values of row are to go (SampleToDeep of the kept
    /// channel; 257·v for 8-bit samples), or nullptr when they are not wanted; valid
    /// until RowDone(row).
    virtual std::uint16_t* DeepRowBuffer(std::int32_t) { return nullptr; }
    /// Row's values are in its buffers.
    virtual void RowDone(std::int32_t row) = 0;

protected:
    ~TPictureRowSink() = default;
};

/// Keeps every row of a picture in a plane and, when given, its full-depth values
/// in deep (SourceMax set).
class TPlaneRowSink final : public TPictureRowSink {
public:
    explicit TPlaneRowSink(TPic& plane, TDeepPic* deep = nullptr) : plane_(plane), deep_(deep) {}
    void Begin(const TPictureLayout& layout) override;
    bool Needed(std::int32_t, std::int32_t) override { return true; }
    std::uint8_t* RowBuffer(std::int32_t row) override { return plane_.Data[row]; }
    std::uint16_t* DeepRowBuffer(std::int32_t row) override {
        return deep_ ? deep_->Data[row] : nullptr;
    }
    void RowDone(std::int32_t) override {}

private:
    TPic& plane_;
    TDeepPic* deep_;
};

/// How decoded samples lie in a row: Samples a pixel in 8- or 16-bit containers
/// (in the machine's byte order unless Swapped), of which the first one (grey) or the first three
/// (red, green, blue) are colour; the rest (alpha) is ignored.
struct TSampleLayout {
    int Samples = 1;              ///< 1 … 4
    int ColourSamples = 1;        ///< 1 grey, 3 colour
    bool Wide = false;            ///< 16-bit containers instead of bytes
    bool Swapped = false;         ///< 16-bit containers in the other byte order
    std::uint32_t MaxValue = 255; ///< M, the largest value a sample means
    bool Inverted = false;        ///< 0 is white (M − v is the light)
};

/// Turns rows of samples into plane values (SampleToPlane of the kept channel, the
/// grey mix of the 8-bit values for colour) and, when asked, full-depth values.
class TSampleConverter {
public:
    TSampleConverter(const TSampleLayout& layout, std::uint8_t channel);

    /// Converts width pixels of samples (layout's containers) into width plane values
    /// and, when deep is not nullptr, width full-depth values.
    void Convert(const void* samples, std::int32_t width, std::uint8_t* values,
                 std::uint16_t* deep);

private:
    // The light of sample v: v, or M − v of an inverted picture; values above M
    // count as M.
    std::uint32_t Light(std::uint32_t v) const;
    // Where container value v lies in the tables: they are indexed by a container
    // as it lies in memory, so that swapped bytes cost nothing.
    std::size_t Index(std::size_t v) const;
    template <class T>
    void ConvertRow(const T* samples, std::int32_t width, std::uint8_t* values,
                    std::uint16_t* deep);

    TSampleLayout layout_;
    std::uint8_t channel_;
    bool mix_;                          // a colour picture's grey mix is kept
    int first_;                         // else the sample kept of each pixel
    bool identity_;                     // 8-bit samples kept as they are
    std::vector<std::uint8_t> toPlane_; // per container value
    std::vector<std::uint16_t> toDeep_; // per container value, once asked for
    std::vector<std::uint8_t> rgbx_;    // a colour row's 8-bit values, for the grey mix
};
