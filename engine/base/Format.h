#pragma once
// Numbers as the output files show them: fixed decimals whatever the locale, and
// centres rounded to pixels.

#include <cstdint>
#include <string>

/// Formats a centre coordinate with two decimals, "." as decimal point, a value
/// exactly halfway rounded away from zero (10.125 → "10.13").
std::string FormatCentre(double value);

/// Formats value with decimals decimals (0 … 17), "." as decimal point whatever the
/// locale, a value exactly halfway rounded away from zero; "nan" for one that is
/// not a finite number.
std::string FormatFixed(double value, int decimals);

/// FormatFixed(value, decimals) added to the end of text.
void AppendFixed(std::string& text, double value, int decimals);

/// Rounds to the nearest integer, a value exactly halfway going to the even one
/// (10.5 → 10, 11.5 → 12).
std::int32_t RoundToPixel(double value);
