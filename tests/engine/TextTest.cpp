// Text for messages: names shown safely and short, byte sizes and counts.

#include "base/Text.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <utility>

TEST(ShownName, EscapesWhatATerminalWouldActOnAndCutsLongNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.jpg", "plain name.jpg"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac",
         "Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac"}, // UTF-8 stays
        {"latin1 \xfc", "latin1 \\xfc"},         // a byte that is no UTF-8
        {"c1 \xc2\x9b", "c1 \\xc2\\x9b"},        // a C1 control, CSI
        {"cut \xe2\x82", "cut \\xe2\\x82"},      // a sequence cut short
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(ShownName(name), shown) << name;
    const std::string shown = ShownName(std::string(100000, 'n'));
    EXPECT_EQ(shown, std::string(kMaxShownName, 'n') + "...");
    EXPECT_EQ(QuotedName("a\nb"), "\"a\\x0ab\"");
}

TEST(ByteSizeText, OneDecimalAtMostInBinaryUnits) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {1023, "1023 bytes"},
        {1024, "1 KiB"},
        {1536, "1.5 KiB"},
        {3000000, "2.9 MiB"},
        {std::uint64_t(64) << 30, "64 GiB"},
        {std::uint64_t(8160) << 20, "8 GiB"},
        {std::uint64_t(7782) << 20, "7.6 GiB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(ByteSizeText(bytes), text) << bytes;
    EXPECT_EQ(CountText(1, "picture"), "1 picture");
    EXPECT_EQ(CountText(0, "picture"), "0 pictures");
}
