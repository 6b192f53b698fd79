// Text for the report page: HTML escaping and base64.

#include "output/Report.h"

namespace {

// The length of the UTF-8 sequence text[at …], or 0 when it is none (overlong forms,
// surrogates and values above U+10FFFF are none).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    unsigned low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD"; // U+FFFD
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\t':
        case '\n':
            out += char(c);
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += "\xEF\xBF\xBD";
            else
                out += char(c);
        }
        ++i;
    }
    return out;
}

std::string Base64Text(const void* data, std::size_t size) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string out((size + 2) / 3 * 4, '=');
    char* to = out.data();
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3, to += 4) {
        const std::uint32_t v =
            std::uint32_t(bytes[i]) << 16 | std::uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        to[0] = kDigits[v >> 18];
        to[1] = kDigits[(v >> 12) & 63];
        to[2] = kDigits[(v >> 6) & 63];
        to[3] = kDigits[v & 63];
    }
    if (i < size) {
        std::uint32_t v = std::uint32_t(bytes[i]) << 16;
        if (i + 1 < size)
            v |= std::uint32_t(bytes[i + 1]) << 8;
        to[0] = kDigits[v >> 18];
        to[1] = kDigits[(v >> 12) & 63];
        if (i + 1 < size)
            to[2] = kDigits[(v >> 6) & 63];
    }
    return out;
}
