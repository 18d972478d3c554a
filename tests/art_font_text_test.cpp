// Text layout with the game fonts and with the overlay font, button icons in
// text, the accent folding and the lenient UTF-8 decoder.
#include "runtime/gpu/overlay_font.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "tests/support/font_fixture.h"

#include <gtest/gtest.h>

namespace ma = settings::menu_art;
using testsupport::FontGlyphRecord;
using testsupport::FontImage;

namespace {

constexpr char32_t ICON = 177;
const ma::TextStyle WHITE_ON_BLACK{{255, 255, 255, 255}, {0, 0, 0, 255}, 1.0f};

uint32_t Px(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

void Paint(FontImage& image, int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            uint8_t* p = image.At(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
            p[3] = a;
        }
    }
}

// A 64 x 32 page: "A" in the cell (0-8, 0-16) with its body at (2-6, 4-12);
// the icon in (16-36, 0-16), red on its left half and blue on its right.
ma::Font TestFont(bool withIcon) {
    FontImage page;
    page.w = 64;
    page.h = 32;
    page.rgba.assign(64 * 32 * 4, 0);
    Paint(page, 2, 4, 6, 12, 255, 255, 255, 255);
    Paint(page, 16, 0, 26, 16, 255, 0, 0, 255);
    Paint(page, 26, 0, 36, 16, 0, 0, 255, 255);
    std::vector<FontGlyphRecord> records = {
        testsupport::RectRecord('A', 0, 0, 0, 8, 16, 64, 32, 1, 10),
        testsupport::RectRecord('B', 0, 40, 0, 40, 16, 64, 32, 0, 99),  // empty
        testsupport::RectRecord(' ', 0, 0, 0, 0, 0, 64, 32, 0, 4),
    };
    if (withIcon) records.push_back(testsupport::RectRecord(ICON, 0x80000000u, 16, 0, 36, 16, 64, 32, 0, 20));
    const std::vector<uint8_t> package =
        testsupport::BuildPackage({testsupport::FontChunk("Test_Font", {{"page.bmp", page, false}}, records)});
    ma::Font font;
    std::string log;
    EXPECT_TRUE(ma::LoadFont(package, "Test_Font", font, log));
    return font;
}

class GameFontText : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ma::testing::PublishFonts(TestFont(false), TestFont(true), true); }
    void SetUp() override {
        ma::testing::SetFontsOk(true);
        ma::ClearCache();
    }
};

class OverlayText : public ::testing::Test {
protected:
    void SetUp() override { ma::testing::SetFontsOk(false); }
};

uint32_t At(const ma::Canvas& c, int x, int y) { return c.Pixels()[size_t(y) * size_t(c.Width()) + size_t(x)]; }

} // namespace

TEST_F(GameFontText, WidthsFollowAdvancesSpacesAndIcons) {
    struct Case {
        const char* what;
        ma::FontId font;
        std::u32string text;
        float cell, iconScale, width;
    };
    const Case cases[] = {
        {"empty text", ma::FontId::Small, U"", 32, 1, 0},
        {"two letters at twice the size", ma::FontId::Small, U"AA", 32, 1, 40},
        {"missing character advances by the space", ma::FontId::Small, U"A\u4E2D", 32, 1, 28},
        {"empty glyph advances by the space", ma::FontId::Small, U"B", 32, 1, 8},
        {"space glyph", ma::FontId::Small, U" ", 16, 1, 4},
        {"icon in the large font", ma::FontId::Large, U"\u00B1", 32, 0.5f, 20},
        {"icon code without a glyph in the small font", ma::FontId::Small, U"\u00B1", 32, 1, 8},
        {"letter and icon", ma::FontId::Large, U"A\u00B1", 16, 1, 30},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(ma::TextWidth(c.font, c.text, c.cell, c.iconScale), c.width) << c.what;
    EXPECT_FLOAT_EQ(ma::IconWidth(ICON, 10), 13);  // 12.5 rounds away from zero
    EXPECT_FLOAT_EQ(ma::IconWidth(ICON, 16), 20);
    EXPECT_FLOAT_EQ(ma::IconWidth(178, 16), 0);
    EXPECT_TRUE(ma::HasGlyph(ma::FontId::Small, U'A'));
    EXPECT_FALSE(ma::HasGlyph(ma::FontId::Small, U'B'));
    EXPECT_FALSE(ma::HasGlyph(ma::FontId::Small, U'\u4E2D'));
    EXPECT_TRUE(ma::HasGlyph(ma::FontId::Large, ICON));
    EXPECT_FALSE(ma::HasGlyph(ma::FontId::Small, ICON));
}

TEST_F(GameFontText, DrawsGlyphCellsAtThePen) {
    ma::Canvas canvas;
    canvas.Reset(40, 40);
    EXPECT_FLOAT_EQ(ma::DrawGameText(canvas, ma::FontId::Small, U"", 5, 2, 16, WHITE_ON_BLACK, 1), 5);
    for (uint32_t p : canvas.Pixels()) ASSERT_EQ(p, 0u);
    // At k = 1 the cell lands at (round(3 + 1), 2): its body at (6-10, 6-14).
    EXPECT_FLOAT_EQ(ma::DrawGameText(canvas, ma::FontId::Small, U"A\u4E2D", 3, 2, 16, WHITE_ON_BLACK, 1), 17);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool body = x >= 6 && x < 10 && y >= 6 && y < 14;
            ASSERT_EQ(At(canvas, x, y), body ? Px(255, 255, 255, 255) : 0u) << x << "," << y;
        }
    }
    // At twice the size the cell is scaled to 16 x 32 and drawn at x = 2: the
    // body's fully covered part is columns 7-12, rows 9-22, with a soft edge
    // of one pixel around it.
    canvas.Reset(40, 40);
    EXPECT_FLOAT_EQ(ma::DrawGameText(canvas, ma::FontId::Small, U"A", 0, 0, 32, WHITE_ON_BLACK, 1), 20);
    EXPECT_EQ(At(canvas, 7, 9), Px(255, 255, 255, 255));
    EXPECT_EQ(At(canvas, 12, 22), Px(255, 255, 255, 255));
    EXPECT_NE(At(canvas, 5, 12), 0u);
    EXPECT_NE(At(canvas, 5, 12), Px(255, 255, 255, 255));
    EXPECT_EQ(At(canvas, 4, 12), 0u);
    EXPECT_EQ(At(canvas, 15, 12), 0u);
}

TEST_F(GameFontText, IconsDrawScaledMirroredAndFaded) {
    ma::Canvas canvas;
    canvas.Reset(30, 20);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, ICON, 0, 0, 16, 1, false), 20);
    EXPECT_EQ(At(canvas, 0, 0), Px(255, 0, 0, 255));
    EXPECT_EQ(At(canvas, 19, 15), Px(0, 0, 255, 255));
    EXPECT_EQ(At(canvas, 20, 0), 0u);
    EXPECT_EQ(At(canvas, 0, 16), 0u);

    canvas.Reset(30, 20);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, ICON, 0.4f, 0, 16, 1, true), 20);
    EXPECT_EQ(At(canvas, 0, 0), Px(0, 0, 255, 255));
    EXPECT_EQ(At(canvas, 19, 0), Px(255, 0, 0, 255));

    canvas.Reset(30, 20);
    ma::DrawIcon(canvas, ICON, 0, 0, 8, 0.5f, false);  // 10 x 8 at half opacity
    EXPECT_EQ(At(canvas, 0, 0), Px(128, 0, 0, 128));
    EXPECT_EQ(At(canvas, 10, 0), 0u);

    canvas.Reset(30, 20);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, 178, 0, 0, 16, 1, false), 0);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, ICON, 0, 0, -5, 1, false), 0);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, ICON, 1e30f, -1e30f, 16, 1, false), 20);
    for (uint32_t p : canvas.Pixels()) ASSERT_EQ(p, 0u);

    // Inside text the icon is centred on the line and follows the letter.
    canvas.Reset(40, 20);
    EXPECT_FLOAT_EQ(ma::DrawGameText(canvas, ma::FontId::Large, U"A\u00B1", 0, 0, 16, WHITE_ON_BLACK, 0.5f), 20);
    EXPECT_EQ(At(canvas, 10, 4), Px(255, 0, 0, 255));   // 10 x 8 icon at (10, 4)
    EXPECT_EQ(At(canvas, 19, 11), Px(0, 0, 255, 255));
    EXPECT_EQ(At(canvas, 10, 3), 0u);
    EXPECT_EQ(At(canvas, 20, 4), 0u);
}

TEST_F(OverlayText, WidthsAndCoverage) {
    EXPECT_FLOAT_EQ(ma::TextWidth(ma::FontId::Small, U"HELLO", 18, 1), 60);
    EXPECT_FLOAT_EQ(ma::TextWidth(ma::FontId::Large, U"é\u4E2D ", 18, 1), 36);
    EXPECT_FLOAT_EQ(ma::TextWidth(ma::FontId::Small, U"", 18, 1), 0);
    struct Case {
        char32_t c;
        bool has;
    };
    const Case cases[] = {{U'a', true}, {U'?', true}, {U'Z', true}, {1, true}, {U'é', false},
                          {U'^', false}, {U' ', false}, {U'\u4E2D', false}};
    for (const Case& c : cases) EXPECT_EQ(ma::HasGlyph(ma::FontId::Small, c.c), c.has) << uint32_t(c.c);
    EXPECT_FLOAT_EQ(ma::IconWidth(ICON, 16), 0);
    ma::Canvas canvas;
    canvas.Reset(10, 10);
    EXPECT_FLOAT_EQ(ma::DrawIcon(canvas, ICON, 0, 0, 16, 1, false), 0);
}

TEST_F(OverlayText, DrawsTheFiveBySevenCells) {
    // cell 9: one pixel per unit; the glyph occupies rows 1-7.
    const ma::TextStyle red{{255, 0, 0, 255}, {0, 0, 0, 255}, 0.5f};
    ma::Canvas canvas;
    canvas.Reset(12, 9);
    EXPECT_FLOAT_EQ(ma::DrawGameText(canvas, ma::FontId::Small, U"1?", 0, 0, 9, red, 1), 12);
    const gpu::overlay_font::Glyph* one = gpu::overlay_font::Find('1');
    const gpu::overlay_font::Glyph* question = gpu::overlay_font::Find('?');
    ASSERT_TRUE(one && question);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x) {
            const gpu::overlay_font::Glyph& g = x < 6 ? *one : *question;
            const bool ink = gpu::overlay_font::Ink(g, x % 6, y - 1);
            ASSERT_EQ(At(canvas, x, y), ink ? Px(128, 0, 0, 128) : 0u) << x << "," << y;
        }
    }
    // é has no overlay glyph of its own but draws as E.
    ma::Canvas e, eAcute;
    e.Reset(12, 18);
    eAcute.Reset(12, 18);
    ma::DrawGameText(e, ma::FontId::Large, U"E", 0, 0, 18, red, 1);
    ma::DrawGameText(eAcute, ma::FontId::Large, U"é", 0, 0, 18, red, 1);
    EXPECT_EQ(e.Pixels(), eAcute.Pixels());
    EXPECT_NE(e.Pixels(), std::vector<uint32_t>(e.Pixels().size(), 0u));
}

TEST(Plain, FoldsAccentedLetters) {
    struct Case {
        char32_t c;
        char plain;
    };
    const Case cases[] = {{U'a', 'A'}, {U'1', '1'},  {U'?', '?'}, {U'ñ', 'N'}, {U'Ñ', 'N'}, {U'ã', 'A'},
                          {U'Ê', 'E'}, {U'ï', 'I'},  {U'Õ', 'O'}, {U'ü', 'U'}, {U'ç', 'C'}, {U'ß', ' '},
                          {U'Å', ' '}, {0x4E2D, ' '}, {0x110000, ' '}};
    for (const Case& c : cases) EXPECT_EQ(ma::Plain(c.c), c.plain) << uint32_t(c.c);
}

TEST(Utf32, DecodesLeniently) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u32string text;
    };
    const Case cases[] = {
        {"ASCII", "Ab1", U"Ab1"},
        {"two bytes", "\xC3\xA9", U"\u00E9"},
        {"cut two-byte sequence", "\xC3", std::u32string(1, 3)},
        {"three bytes", "\xE2\x82\xAC", U"\u20AC"},
        {"four bytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
        {"continuation tops are not checked", "\xC3\x29", std::u32string(1, 0xE9)},
        // A stray continuation byte leads a 3-byte tail: 0, then 'A' & 63, 'B' & 63.
        {"stray continuation byte", "\x80" "AB", std::u32string(1, (1 << 6) | 2)},
        {"0xFF keeps 3 payload bits", "\xFF\x80\x80\x80", std::u32string(1, 7u << 18)},
        {"empty", "", U""},
    };
    for (const Case& c : cases) EXPECT_EQ(ma::Utf32(c.bytes), c.text) << c.what;
}
