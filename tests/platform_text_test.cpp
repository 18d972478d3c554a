// UTF-8 <-> wide and UTF-16 conversions, including malformed input.
#include "runtime/platform/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) out.push_back(char(b));
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char piece[4];
    for (unsigned char c : bytes) {
        std::snprintf(piece, sizeof piece, "%02X ", c);
        out += piece;
    }
    return out;
}

} // namespace

TEST(PlatUtf8, Widen) {
    struct Case {
        std::string input;
        std::wstring expected;
    } cases[] = {
        {"", L""},
        {"abc", L"abc"},
        {Bytes({0xC3, 0xA7}), L"\u00E7"},
        {Bytes({0xE2, 0x82, 0xAC}), L"\u20AC"},
        {Bytes({0xF0, 0x9F, 0x98, 0x80}), std::wstring(1, wchar_t(0x1F600))},
        {Bytes({0xF4, 0x8F, 0xBF, 0xBF}), std::wstring(1, wchar_t(0x10FFFF))},
        // A truncated sequence: its lead byte, then each following byte alone.
        {Bytes({0xE2, 0x82}), L"\uFFFD\uFFFD"},
        {Bytes({'a', 0xF0, 0x9F, 0x98}), L"a\uFFFD\uFFFD\uFFFD"},
        {Bytes({0xC3}), L"\uFFFD"},
        // A bad continuation byte: the whole sequence is one replacement.
        {Bytes({0xE2, 0x28, 0xA1}), L"\uFFFD"},
        {Bytes({0xE2, 0x28, 0xA1, 'z'}), L"\uFFFDz"},
        {Bytes({0xC3, 'A'}), L"\uFFFD"},
        // Surrogates and values above U+10FFFF.
        {Bytes({0xED, 0xA0, 0x80}), L"\uFFFD"},
        {Bytes({0xED, 0xBF, 0xBF}), L"\uFFFD"},
        {Bytes({0xED, 0x9F, 0xBF}), L"\uD7FF"},
        {Bytes({0xF4, 0x90, 0x80, 0x80}), L"\uFFFD"},
        {Bytes({0xF7, 0xBF, 0xBF, 0xBF}), L"\uFFFD"},
        // Over-long forms give their value.
        {Bytes({0xC0, 0x80}), std::wstring(1, L'\0')},
        {Bytes({0xE0, 0x80, 0xAF}), L"/"},
        // Bytes that cannot start a sequence.
        {Bytes({0x80}), L"\uFFFD"},
        {Bytes({0xBF, 'x'}), L"\uFFFDx"},
        {Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {Bytes({0xFF, 0xFE}), L"\uFFFD\uFFFD"},
        {"Configura\xC3\xA7\xC3\xB5" "es", L"Configura\u00E7\u00F5es"},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::WidenUtf8(c.input), c.expected) << Hex(c.input);
}

TEST(PlatUtf8, Narrow) {
    struct Case {
        std::wstring input;
        std::string expected;
    } cases[] = {
        {L"", ""},
        {L"abc", "abc"},
        {std::wstring(1, L'\0'), Bytes({0})},
        {L"\u007F", Bytes({0x7F})},
        {L"\u0080", Bytes({0xC2, 0x80})},
        {L"\u00E7", Bytes({0xC3, 0xA7})},
        {L"\u07FF", Bytes({0xDF, 0xBF})},
        {L"\u0800", Bytes({0xE0, 0xA0, 0x80})},
        {L"\uFFFF", Bytes({0xEF, 0xBF, 0xBF})},
        {std::wstring(1, wchar_t(0x10000)), Bytes({0xF0, 0x90, 0x80, 0x80})},
        {std::wstring(1, wchar_t(0x1F600)), Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {std::wstring(1, wchar_t(0x10FFFF)), Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        // Not validated: a lone surrogate takes the three-byte form.
        {std::wstring(1, wchar_t(0xD800)), Bytes({0xED, 0xA0, 0x80})},
    };
    for (const Case& c : cases) EXPECT_EQ(Hex(plat::NarrowUtf8(c.input)), Hex(c.expected));
}

TEST(PlatUtf8, ToUtf16) {
    struct Case {
        std::string input;
        std::u16string expected;
    } cases[] = {
        {"", u""},
        {"a\xC3\xA7", u"a\u00E7"},
        {Bytes({0xEF, 0xBF, 0xBF}), u"\uFFFF"},
        {Bytes({0xF0, 0x9F, 0x98, 0x80}), std::u16string({char16_t(0xD83D), char16_t(0xDE00)})},
        {Bytes({0xF0, 0x90, 0x80, 0x80}), std::u16string({char16_t(0xD800), char16_t(0xDC00)})},
        {Bytes({0xF4, 0x8F, 0xBF, 0xBF}), std::u16string({char16_t(0xDBFF), char16_t(0xDFFF)})},
        {Bytes({0xED, 0xA0, 0x80}), u"\uFFFD"},
        {Bytes({0xE2, 0x82}), u"\uFFFD\uFFFD"},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::Utf16FromUtf8(c.input), c.expected) << Hex(c.input);
}

TEST(PlatUtf8, ValidTextRoundTripsAndNoInputBreaksIt) {
    std::mt19937 random(20261211);
    std::uniform_int_distribution<uint32_t> codePoint(0, 0x10FFFF);
    std::wstring wide;
    while (wide.size() < 4000) {
        const uint32_t v = codePoint(random);
        if (v >= 0xD800 && v <= 0xDFFF) continue;
        wide.push_back(wchar_t(v));
    }
    EXPECT_EQ(plat::WidenUtf8(plat::NarrowUtf8(wide)), wide);

    // Arbitrary bytes widen to valid code points only, one or more per
    // consumed sequence and never more than one per byte.
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(size_t(byte(random) % 64), '\0');
        for (char& b : bytes) b = char(byte(random));
        const std::wstring out = plat::WidenUtf8(bytes);
        EXPECT_LE(out.size(), bytes.size());
        for (wchar_t c : out) {
            EXPECT_LE(uint32_t(c), 0x10FFFFu);
            EXPECT_FALSE(uint32_t(c) >= 0xD800 && uint32_t(c) <= 0xDFFF);
        }
        const std::u16string utf16 = plat::Utf16FromUtf8(bytes);
        EXPECT_GE(utf16.size(), out.size());
    }
}
