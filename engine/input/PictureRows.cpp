#include "input/PictureRows.h"

#include "image/GreyMix.h"

#include <algorithm>
#include <cstring>

namespace {

// The grey mix of full-depth values. Only the refinement weighs them, and it needs
// no bit-exact rule: the mix's weights in integers, rounded to nearest.
std::uint16_t DeepGrey(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return std::uint16_t((300 * red + 590 * green + 110 * blue + 500) / 1000);
}

} // namespace

void TPlaneRowSink::Begin(const TPictureLayout& layout) {
    plane_.SetSize(layout.Width, layout.Height);
    if (!deep_)
        return;
    deep_->SetSize(layout.Width, layout.Height);
    deep_->SourceMax = layout.MaxValue;
}

TSampleConverter::TSampleConverter(const TSampleLayout& layout, std::uint8_t channel)
    : layout_(layout), channel_(channel) {
    layout_.MaxValue = std::max<std::uint32_t>(1, layout_.MaxValue);
    mix_ = layout_.ColourSamples >= 3 && channel_ > kChannelBlue;
    first_ = layout_.ColourSamples < 3 ? 0 : std::min<int>(channel_, kChannelBlue);
    identity_ = !layout_.Wide && layout_.MaxValue == 255 && !layout_.Inverted;
    const std::size_t values = layout_.Wide ? 65536 : 256;
    toPlane_.resize(values);
    for (std::size_t v = 0; v < values; ++v)
        toPlane_[Index(v)] = SampleToPlane(Light(std::uint32_t(v)), layout_.MaxValue);
}

std::size_t TSampleConverter::Index(std::size_t v) const {
    return layout_.Swapped ? (v >> 8 | (v & 0xFF) << 8) : v;
}

std::uint32_t TSampleConverter::Light(std::uint32_t v) const {
    const std::uint32_t m = layout_.MaxValue;
    v = std::min(v, m);
    return layout_.Inverted ? m - v : v;
}

void TSampleConverter::Convert(const void* samples, std::int32_t width, std::uint8_t* values,
                               std::uint16_t* deep) {
    // Full-depth values are asked for only of pictures 0 and 2, and only for the
    // point table: their table is made when first needed.
    if (deep && toDeep_.empty()) {
        toDeep_.resize(toPlane_.size());
        for (std::size_t v = 0; v < toDeep_.size(); ++v)
            toDeep_[Index(v)] = SampleToDeep(Light(std::uint32_t(v)), layout_.MaxValue);
    }
    if (layout_.Wide)
        ConvertRow(static_cast<const std::uint16_t*>(samples), width, values, deep);
    else
        ConvertRow(static_cast<const std::uint8_t*>(samples), width, values, deep);
}

template <class T>
void TSampleConverter::ConvertRow(const T* samples, std::int32_t width, std::uint8_t* values,
                                  std::uint16_t* deep) {
    const std::size_t n = std::size_t(width), step = std::size_t(layout_.Samples);
    const bool same = sizeof(T) == 1 && identity_;
    if (!mix_) {
        const T* s = samples + first_;
        if (same && step == 1)
            std::memcpy(values, s, n);
        else if (same)
            for (std::size_t c = 0; c < n; ++c)
                values[c] = std::uint8_t(s[c * step]);
        else
            for (std::size_t c = 0; c < n; ++c)
                values[c] = toPlane_[s[c * step]];
        if (deep)
            for (std::size_t c = 0; c < n; ++c)
                deep[c] = toDeep_[s[c * step]];
        return;
    }
    if (same && step == 4) {
        // Red, green, blue and an alpha that the grey mix passes over.
        GreyRow(reinterpret_cast<const std::uint8_t*>(samples), values, width);
    } else {
        rgbx_.resize(4 * n);
        for (std::size_t c = 0; c < n; ++c)
            for (std::size_t k = 0; k < 3; ++k)
                rgbx_[4 * c + k] = toPlane_[samples[c * step + k]];
        GreyRow(rgbx_.data(), values, width);
    }
    if (deep)
        for (std::size_t c = 0; c < n; ++c)
            deep[c] = DeepGrey(toDeep_[samples[c * step]], toDeep_[samples[c * step + 1]],
                               toDeep_[samples[c * step + 2]]);
}
