#include "base/Text.h"

#include <cstdio>

namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when the bytes
// there are not one (a stray continuation byte, an overlong or cut sequence).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0u) != 0x80u)
            return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    // C1 controls (U+0080 … U+009F) act on terminals as their 8-bit forms do.
    const bool control = value >= 0x80 && value <= 0x9F;
    if (value < minimum || value > 0x10FFFF || surrogate || control)
        return 0;
    return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

} // namespace

std::string ShownName(std::string_view name) {
    std::string shown;
    shown.reserve(std::min(name.size(), kMaxShownName) + 8);
    for (std::size_t i = 0; i < name.size();) {
        if (shown.size() >= kMaxShownName) {
            shown += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\')
                shown += '\\';
            shown += char(byte);
            ++i;
        } else if (const std::size_t length = byte >= 0x80 ? Utf8Length(name, i) : 0) {
            shown.append(name.substr(i, length));
            i += length;
        } else {
            AppendEscaped(shown, byte);
            ++i;
        }
    }
    return shown;
}

std::string QuotedName(std::string_view name) {
    return "\"" + ShownName(name) + "\"";
}

std::string ByteSizeText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    int unit = 0;
    long double scaled = static_cast<long double>(bytes) / 1024;
    while (scaled >= 1024 && unit < 5) {
        scaled /= 1024;
        ++unit;
    }
    // Tenths, rounded half up; integer arithmetic keeps the locale out of it.
    const auto tenths = static_cast<std::uint64_t>(scaled * 10 + 0.5L);
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0)
        text += "." + std::to_string(tenths % 10);
    return text + " " + kUnits[unit];
}

std::string CountText(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string SizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}
