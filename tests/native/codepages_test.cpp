// Tests of the code page conversion: known characters of every page, characters a page cannot
// hold, invalid UTF-8, double-byte pages (lead bytes, trail bytes that look like a backslash,
// codes that share a character), and a full round trip over every code each page defines.
#include <gtest/gtest.h>

#include "codepages.h"

using namespace quillon;

namespace {

std::string Encode(int page, const std::string& utf8, std::string* error = nullptr) {
    const CodePage* codePage = FindCodePage(page);
    EXPECT_NE(codePage, nullptr);
    std::string out, localError;
    if (!codePage->FromUtf8(utf8, &out, error ? error : &localError)) return "<refused>";
    return out;
}

std::string Decode(int page, const std::string& bytes, std::string* error = nullptr) {
    std::string out, localError;
    if (!FindCodePage(page)->ToUtf8(bytes, &out, error ? error : &localError)) return "<refused>";
    return out;
}

} // namespace

TEST(CodePages, SupportedPages) {
    std::vector<int> expected = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
    EXPECT_EQ(SupportedCodePages(), expected);
    for (int page : expected) {
        ASSERT_NE(FindCodePage(page), nullptr) << page;
        EXPECT_EQ(FindCodePage(page)->number(), page);
        EXPECT_EQ(FindCodePage(page)->isDoubleByte(), page >= 932 && page <= 950) << page;
    }
    for (int page : {0, 437, 850, 1200, 65001, 1259}) EXPECT_EQ(FindCodePage(page), nullptr) << page;
}

TEST(CodePages, KnownCharacters) {
    struct Case {
        int page;
        const char* utf8;
        std::string bytes;
    };
    const Case cases[] = {
        {1252, "é", "\xE9"},         {1252, "€", "\x80"},         {1252, "œ", "\x9C"},
        {1252, "…", "\x85"},         {1250, "Ł", "\xA3"},         {1250, "ő", "\xF5"},
        {1251, "Я", "\xDF"},         {1251, "ё", "\xB8"},         {1253, "Ω", "\xD9"},
        {1254, "ğ", "\xF0"},         {1255, "א", "\xE0"},         {1256, "ع", "\xDA"},
        {1256, "پ", "\x81"},         {1257, "ā", "\xE2"},         {1258, "₫", "\xFE"},
        {874, "ก", "\xA1"},          {932, "あ", "\x82\xA0"},     {932, "ｱ", "\xB1"},
        {936, "中", "\xD6\xD0"},     {949, "한", "\xC7\xD1"},     {949, "가", "\xB0\xA1"},
        {950, "中", "\xA4\xA4"},     {950, "文", "\xA4\xE5"},     {1252, "plain ASCII\\ #%", "plain ASCII\\ #%"},
        {932, "A\\あB", "A\\\x82\xA0" "B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.page) + " " + c.utf8);
        EXPECT_EQ(Encode(c.page, c.utf8), c.bytes);
        EXPECT_EQ(Decode(c.page, c.bytes), c.utf8);
    }
}

TEST(CodePages, CharactersAPageCannotHoldAreRefused) {
    struct Case {
        int page;
        const char* utf8;
        const char* errorPart;
    };
    const Case cases[] = {
        {1252, "aŁb", "U+0141 'Ł' (character 2) is not in code page 1252"},
        {1251, "ß", "U+00DF"},
        {1253, "é", "not in code page 1253"},
        {874, "é", "not in code page 874"},
        {932, "café", "U+00E9 'é' (character 4) is not in code page 932"},
        {936, "€", "U+20AC"},
        {950, "한", "U+D55C"},
        {1252, "\xF0\x9F\x98\x80", "U+1F600"}, // outside the 16-bit range of every page
        {1252, "\xC2\x81", "U+0081 (character 1)"}, // undefined in 1252, and no glyph to show
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.page) + " " + c.utf8);
        std::string error;
        EXPECT_EQ(Encode(c.page, c.utf8, &error), "<refused>");
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }
}

TEST(CodePages, InvalidUtf8AndNulAreRefused) {
    const std::string cases[] = {
        "\xC0\xAF",         // overlong slash
        "\xE0\x80\xAF",     // overlong
        "\x80",             // lone continuation byte
        "\xE3\x81",         // cut off
        "\xED\xA0\x80",     // surrogate
        "\xF4\x90\x80\x80", // beyond U+10FFFF
        "\xFF",
    };
    for (const std::string& text : cases) {
        std::string error;
        EXPECT_EQ(Encode(1252, "ok" + text, &error), "<refused>");
        EXPECT_NE(error.find("not valid UTF-8 (byte 2)"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(Encode(1252, std::string("a\0b", 3), &error), "<refused>");
    EXPECT_NE(error.find("NUL"), std::string::npos);
}

TEST(CodePages, UndefinedBytesAreRefusedOnTheWayBack) {
    for (int byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        std::string error;
        EXPECT_EQ(Decode(1252, std::string("x") + char(byte), &error), "<refused>");
        EXPECT_NE(error.find("(byte 1) is not defined in code page 1252"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(Decode(932, "ab\x82", &error), "<refused>");
    EXPECT_NE(error.find("lead byte at the end"), std::string::npos) << error;
    EXPECT_EQ(Decode(932, "\x82\x20", &error), "<refused>"); // a lead byte with a trail the page lacks
    EXPECT_NE(error.find("byte pair 0x8220"), std::string::npos) << error;
    EXPECT_EQ(Decode(1252, std::string("a\0", 2), &error), "<refused>");

    // With replacement the rest of the text still comes through.
    std::string out;
    EXPECT_FALSE(FindCodePage(1252)->ToUtf8("a\x81z", &out, &error, true));
    EXPECT_EQ(out, "a\xEF\xBF\xBDz");
}

TEST(CodePages, TrailBytesThatLookLikeABackslash) {
    const CodePage* page = FindCodePage(932);
    std::string table = Encode(932, "表\\a"); // 0x95 0x5C, then a real backslash
    ASSERT_EQ(table, "\x95\x5C\\a");
    EXPECT_FALSE(page->IsTrailByte(table, 0));
    EXPECT_TRUE(page->IsTrailByte(table, 1));
    EXPECT_FALSE(page->IsTrailByte(table, 2));
    EXPECT_FALSE(page->IsTrailByte(table, 3));
    // Half-width katakana are single bytes: the byte after one is not a trail byte.
    std::string kana = Encode(932, "ｱ\\");
    EXPECT_FALSE(page->IsTrailByte(kana, 1));
    EXPECT_FALSE(FindCodePage(1252)->IsTrailByte("\x95\x5C", 1));
}

TEST(CodePages, SharedCharacterWritesThePreferredCode) {
    // U+2252 is both 0x81E0 (JIS row) and 0x8790 (NEC row 13); the page writes the JIS code.
    EXPECT_EQ(Decode(932, "\x87\x90"), "≒");
    EXPECT_EQ(Decode(932, "\x81\xE0"), "≒");
    EXPECT_EQ(Encode(932, "≒"), "\x81\xE0");
}

// Every code each page defines decodes to a character that encodes back to a code of the same
// character: the very same code, except where the page has two codes for one character.
TEST(CodePages, EveryDefinedCodeRoundTrips) {
    for (int number : SupportedCodePages()) {
        SCOPED_TRACE(number);
        const CodePage* page = FindCodePage(number);
        size_t defined = 0, shared = 0;
        for (int code = 0x01; code <= 0xFFFF; ++code) {
            std::string bytes = code < 0x100 ? std::string(1, char(code)) : std::string{char(code >> 8), char(code & 0xFF)};
            if (code >= 0x100 && static_cast<uint8_t>(bytes[0]) < 0x80) continue; // no lead byte below 0x80
            std::string utf8, back, again, error;
            if (!page->ToUtf8(bytes, &utf8, &error)) continue;
            if (code >= 0x100 && page->ToUtf8(bytes.substr(0, 1), &again, &error)) continue; // two singles
            ++defined;
            ASSERT_TRUE(page->FromUtf8(utf8, &back, &error)) << std::hex << code << ": " << error;
            if (back != bytes) {
                ++shared;
                ASSERT_TRUE(page->ToUtf8(back, &again, &error)) << error;
                EXPECT_EQ(again, utf8) << std::hex << code;
            }
        }
        EXPECT_GT(defined, number >= 1250 || number == 874 ? 90u : 7000u);
        if (!page->isDoubleByte() || number == 936 || number == 949) {
            EXPECT_EQ(shared, 0u);
        }
    }
}
