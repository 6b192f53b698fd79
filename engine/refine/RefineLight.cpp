#include "refine/RefineLight.h"

#include "base/Text.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace refine_detail {

namespace {

template <class TPlane>
void CheckPlane(const TPlane& plane, std::int32_t width, std::int32_t height, const char* which) {
    if (plane.Width != width || plane.Height != height)
        throw std::invalid_argument(std::string("the ") + which + " plane is " +
                                    SizeText(plane.Width, plane.Height) + ", the codes " +
                                    SizeText(width, height));
}

} // namespace

TLight::TLight(const TLightPlanes& planes, std::int32_t width, std::int32_t height)
    : dark_(planes.Dark), lit_(planes.Lit), width_(width), height_(height) {
    CheckPlane(planes.Dark, width, height, "dark");
    CheckPlane(planes.Lit, width, height, "lit");
    if (!planes.DeepDark || !planes.DeepLit)
        return;
    CheckPlane(*planes.DeepDark, width, height, "full-depth dark");
    CheckPlane(*planes.DeepLit, width, height, "full-depth lit");
    deepDark_ = planes.DeepDark;
    deepLit_ = planes.DeepLit;
    // The coarser of the two pictures' steps.
    const std::uint32_t finest =
        std::max<std::uint32_t>(1, std::min(planes.DeepDark->SourceMax, planes.DeepLit->SourceMax));
    quantum_ = 65535.0 / finest;
}

void TLight::Row(std::int32_t row, std::int32_t first, std::int32_t last, std::int32_t* out) const {
    if (Deep()) {
        const std::uint16_t* l = deepLit_->Data[row];
        const std::uint16_t* d = deepDark_->Data[row];
        for (std::int32_t c = first; c <= last; ++c)
            out[c - first] = std::int32_t(l[c]) - std::int32_t(d[c]);
        return;
    }
    const std::uint8_t* l = lit_.Data[row];
    const std::uint8_t* d = dark_.Data[row];
    for (std::int32_t c = first; c <= last; ++c)
        out[c - first] = std::int32_t(l[c]) - std::int32_t(d[c]);
}

} // namespace refine_detail
