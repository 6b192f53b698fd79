#include "base/Format.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

// std::to_chars rounds the exact binary value correctly and ignores the locale; an
// exact tie goes to even there, so it is moved one step away from zero first. The
// ties a double can hold exactly are the odd multiples of 2^-(decimals + 1):
// x.125, x.375, x.625 and x.875 for two decimals.
std::string FormatFixed(double value, int decimals) {
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
}

void AppendFixed(std::string& text, double value, int decimals) {
    const double scaled = std::ldexp(value, decimals + 1);
    if (std::isfinite(value) && scaled == std::trunc(scaled) && std::fmod(scaled, 2) != 0)
        value = std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL);
    char buffer[400];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        text += "nan";
    else
        text.append(buffer, end);
}

std::string FormatCentre(double value) {
    // At most 10 significant digits: from a hundred million on, fewer decimals are
    // kept, and the two places are filled with zeros.
    std::string text = FormatFixed(value, 2);
    const std::size_t sign = text.front() == '-' ? 1 : 0;
    const std::size_t whole = text.find('.') - sign;
    if (whole <= 8)
        return text;
    const int decimals = whole >= 10 ? 0 : 1;
    text = FormatFixed(value, decimals);
    return text + (decimals == 0 ? ".00" : "0");
}

std::int32_t RoundToPixel(double value) {
    const double rounded = std::nearbyint(value); // the default mode: halves to even
    if (!(std::fabs(rounded) < 2147483648.0))
        return std::numeric_limits<std::int32_t>::min(); // outside every picture
    return static_cast<std::int32_t>(rounded);
}
