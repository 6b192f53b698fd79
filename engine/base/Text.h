#pragma once
// Text for messages: file names as they may be shown, byte counts, plurals.

#include <cstdint>
#include <string>
#include <string_view>

/// The longest file name shown in a message, in bytes; longer ones are cut.
inline constexpr std::size_t kMaxShownName = 200;

/// A name as it may be shown on a terminal or in a log: control characters and
/// bytes that are not UTF-8 become \xHH escapes (a backslash becomes \\), and a
/// name longer than kMaxShownName bytes is cut short with "...". Names come from
/// list files and headers, which may hold anything.
std::string ShownName(std::string_view name);

/// ShownName in double quotes.
std::string QuotedName(std::string_view name);

/// A number of bytes for people: "100 bytes", "512 KiB", "11.4 MiB", "64 GiB",
/// with at most one decimal, "." whatever the locale.
std::string ByteSizeText(std::uint64_t bytes);

/// "1 picture", "2 pictures": count and noun, with the plural's "s" when it needs it.
std::string CountText(std::uint64_t count, std::string_view noun);

/// A picture's size as "width x height".
std::string SizeText(std::int64_t width, std::int64_t height);
