#include "Latin1Text.h"

#include <gtest/gtest.h>

#include <string>

TEST(Latin1Text, FromUtf8) {
    struct TCase {
        std::string Utf8;
        std::string Latin1;
        bool Lost;
    };
    const TCase Cases[] = {
        {"plain text", "plain text", false},
        {"Beyonc\xC3\xA9", "Beyonc\xE9", false},
        {"\xC3\x9C\xC3\xBF\xC2\xA0\xC2\x80", "\xDC\xFF\xA0\x80",
         false},                           // U+00DC U+00FF U+00A0 U+0080
        {"\xC4\x80", "?", true},           // U+0100, just past the range
        {"ok \xE2\x9C\x93", "ok ?", true}, // a check mark: one "?"
        {"\xF0\x9F\x8E\xB5!", "?!", true}, // four bytes: one "?"
        {"Beyonc\xE9", "Beyonc?", true},   // already Latin-1: not UTF-8
        {"\xC0\xA9", "??", true},          // an overlong spelling
        {"\xE2\x9C", "??", true},          // cut off at the end
        {"\xC3x", "?x", true},             // cut off before a letter
        {"\xED\xA0\x80", "???", true},     // a lone surrogate
        {std::string("a\0b", 3), std::string("a\0b", 3), false},
    };
    for (const auto& Case : Cases) {
        bool Lost = false;
        EXPECT_EQ(Utf8ToLatin1(Case.Utf8, &Lost), Case.Latin1) << Case.Utf8;
        EXPECT_EQ(Lost, Case.Lost) << Case.Utf8;
    }
}

TEST(Latin1Text, EveryByteGoesThereAndBack) {
    std::string All;
    for (int Byte = 0; Byte < 256; ++Byte)
        All += static_cast<char>(Byte);
    const std::string Utf8 = Latin1ToUtf8(All);
    EXPECT_EQ(Utf8.size(), 128u + 2 * 128u);
    EXPECT_EQ(Latin1ToUtf8("Beyonc\xE9"), "Beyonc\xC3\xA9");
    bool Lost = false;
    EXPECT_EQ(Utf8ToLatin1(Utf8, &Lost), All);
    EXPECT_FALSE(Lost);
}
