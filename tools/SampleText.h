#pragma once
// Numbers as the sample files and the sample option errors write them: '.' as the
// decimal separator whatever the locale, to_chars' correct rounding.

#include <charconv>
#include <string>
#include <system_error>

namespace sample_detail {

/// value with decimals decimals; "nan" when it does not fit.
inline std::string FixedText(double value, int decimals = 3) {
    char text[400];
    auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return "nan";
    return std::string(text, end);
}

/// The shortest text that reads back to the same double.
inline std::string ExactText(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc())
        return "nan";
    return std::string(text, end);
}

} // namespace sample_detail
