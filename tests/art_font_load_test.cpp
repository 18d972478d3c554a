// Loading font chunks into glyphs: rectangles, bad records, duplicates, the
// cleaning of ink bleeding in from the glyph above, and the fixture fonts.
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ma = settings::menu_art;
using testsupport::FontGlyphRecord;
using testsupport::FontImage;
using testsupport::FontPage;

namespace {

FontImage Blank(int w, int h) {
    FontImage image;
    image.w = w;
    image.h = h;
    image.rgba.assign(size_t(w) * size_t(h) * 4, 0);
    return image;
}

void Ink(FontImage& image, int x, int y, uint8_t alpha = 255) {
    uint8_t* p = image.At(x, y);
    p[0] = p[1] = p[2] = 255;
    p[3] = alpha;
}

FontPage Page(const FontImage& image, const char* name = "page_0.bmp") { return {name, image, false}; }

FontGlyphRecord Record(uint32_t code, uint32_t texture, float u0, float v0, float u1, float v1, float advance) {
    FontGlyphRecord r;
    r.code = code;
    r.texture = texture;
    r.u0 = u0;
    r.v0 = v0;
    r.u1 = u1;
    r.v1 = v1;
    r.advance = advance;
    return r;
}

std::vector<uint8_t> Package(const std::string& name, const std::vector<FontPage>& pages,
                             const std::vector<FontGlyphRecord>& records) {
    return testsupport::BuildPackage({testsupport::FontChunk(name, pages, records)});
}

bool Load(const std::vector<uint8_t>& package, ma::Font& font, const std::string& name = "Test_Font") {
    std::string log;
    return ma::LoadFont(package, name, font, log);
}

// A page of 256 x 128 whose "A" covers a solid rectangle.
FontImage ABlock() {
    FontImage page = Blank(256, 128);
    for (int y = 0; y < 32; ++y)
        for (int x = 64; x < 128; ++x) Ink(page, x, y);
    return page;
}

} // namespace

TEST(LoadFont, RectangleFromFractionsOfThePage) {
    ma::Font font;
    ASSERT_TRUE(Load(Package("Test_Font", {Page(ABlock())}, {Record('A', 0, 0.25f, 0.75f, 0.5f, 1.0f, 20)}), font));
    const ma::Glyph& a = font.glyphs.at(U'A');
    EXPECT_EQ(a.x0, 64);
    EXPECT_EQ(a.x1, 128);
    EXPECT_EQ(a.y0, 0);
    EXPECT_EQ(a.y1, 32);
    EXPECT_FALSE(a.empty);
    EXPECT_EQ(a.cell.w, 64);
    EXPECT_EQ(a.cell.h, 32);
    EXPECT_EQ(font.cell, 32);
    EXPECT_EQ(font.name, "Test_Font");
    ASSERT_EQ(font.pages.size(), 1u);
    EXPECT_EQ(font.pages[0].w, 256);
    EXPECT_FLOAT_EQ(font.space, 0.22f * 32);  // no space glyph
}

TEST(LoadFont, BadRecordsBecomeEmptyGlyphs) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        FontGlyphRecord record;
        bool empty;
        int x0, y0, x1, y1;
    };
    const std::vector<Case> cases = {
        {"page index beyond the pages", Record('b', 3, 0, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"page that did not decode", Record('c', 1, 0, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"u0 = u1", Record('d', 0, 0.5f, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"u0 > u1", Record('e', 0, 0.6f, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"v0 >= v1", Record('f', 0, 0, 0.5f, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"not a number", Record('g', 0, nan, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
        {"clamped to the page", Record('h', 0, -3, -1, 9, 2, 5), false, 0, 0, 256, 128},
        {"infinite edges clamp", Record('i', 0, -inf, 0.5f, inf, 0.75f, 5), false, 0, 32, 256, 64},
        {"rounds to an empty row span", Record('j', 0, 0, 0.5f, 0.5f, 0.501f, 5), true, 0, 64, 128, 64},
        {"icon bit with a bad page", Record('k', 0x80000009u, 0, 0, 0.5f, 0.5f, 5), true, 0, 0, 0, 0},
    };
    std::vector<FontGlyphRecord> records = {Record('A', 0, 0.25f, 0.75f, 0.5f, 1.0f, 20)};
    for (const Case& c : cases) records.push_back(c.record);
    // Page 1 is a texture whose PNG is damaged.
    testsupport::P3dChunk chunk = testsupport::FontChunk("Test_Font", {Page(ABlock()), Page(ABlock(), "b.bmp")}, records);
    auto& damaged = chunk.children[2].children[0].children[0].data;  // texture > image > image data
    damaged.resize(damaged.size() / 2);
    damaged[0] = uint8_t(damaged.size() - 4);  // its stated length stays consistent
    damaged[1] = uint8_t((damaged.size() - 4) >> 8);
    damaged[2] = uint8_t((damaged.size() - 4) >> 16);
    damaged[3] = 0;
    ma::Font font;
    ASSERT_TRUE(Load(testsupport::BuildPackage({chunk}), font));
    ASSERT_EQ(font.pages.size(), 2u);
    EXPECT_EQ(font.pages[1].w, 0) << "a page that fails to decode keeps its place";
    for (const Case& c : cases) {
        const ma::Glyph& g = font.glyphs.at(char32_t(c.record.code));
        EXPECT_EQ(g.empty, c.empty) << c.what;
        EXPECT_EQ(g.x0, c.x0) << c.what;
        EXPECT_EQ(g.y0, c.y0) << c.what;
        EXPECT_EQ(g.x1, c.x1) << c.what;
        EXPECT_EQ(g.y1, c.y1) << c.what;
        EXPECT_EQ(g.cell.w, c.empty ? 0 : c.x1 - c.x0) << c.what;
    }
    EXPECT_TRUE(font.glyphs.at(U'k').icon);
    EXPECT_EQ(font.glyphs.at(U'k').page, 9);
}

TEST(LoadFont, LaterDuplicateReplacesEarlierAndIconsGetNoCell) {
    FontGlyphRecord icon = Record(177, 0x80000000u, 0, 0.75f, 0.125f, 1.0f, 40);
    ma::Font font;
    ASSERT_TRUE(Load(Package("Test_Font", {Page(ABlock())},
                             {Record('A', 0, 0, 0, 0.1f, 0.1f, 3), Record('A', 0, 0.25f, 0.75f, 0.5f, 1.0f, 20), icon,
                              Record(' ', 0, 0, 0, 0, 0, 7)}),
                     font));
    EXPECT_EQ(font.glyphs.size(), 3u);
    EXPECT_EQ(font.glyphs.at(U'A').x0, 64);
    EXPECT_FLOAT_EQ(font.glyphs.at(U'A').advance, 20);
    const ma::Glyph& g = font.glyphs.at(177);
    EXPECT_TRUE(g.icon);
    EXPECT_FALSE(g.empty);
    EXPECT_EQ(g.x1, 32);
    EXPECT_EQ(g.cell.w, 0);
    EXPECT_FLOAT_EQ(font.space, 7);
    EXPECT_TRUE(font.glyphs.at(U' ').empty);
}

TEST(LoadFont, FailsWithoutAUsableFont) {
    const std::vector<FontPage> pages = {Page(ABlock())};
    const FontGlyphRecord a = Record('A', 0, 0.25f, 0.75f, 0.5f, 1.0f, 20);
    struct Case {
        const char* what;
        std::vector<uint8_t> package;
        std::string name;
    };
    std::vector<Case> cases = {
        {"no such font", Package("Test_Font", pages, {a}), "Other_Font"},
        {"names compare with case", Package("Test_Font", pages, {a}), "test_font"},
        {"missing A", Package("Test_Font", pages, {Record('B', 0, 0.25f, 0.75f, 0.5f, 1.0f, 20)}), "Test_Font"},
        {"empty A", Package("Test_Font", pages, {Record('A', 0, 0.5f, 0.75f, 0.25f, 1.0f, 20)}), "Test_Font"},
        {"A on a missing page", Package("Test_Font", pages, {Record('A', 4, 0.25f, 0.75f, 0.5f, 1.0f, 20)}),
         "Test_Font"},
        {"empty package", {}, "Test_Font"},
    };
    // A glyph table that claims more records than it holds.
    testsupport::P3dChunk shortTable = testsupport::FontChunk("Test_Font", pages, {a});
    shortTable.children[0].data[0] = 2;
    cases.push_back({"glyph count past the table", testsupport::BuildPackage({shortTable}), "Test_Font"});
    // No glyph table at all.
    testsupport::P3dChunk noTable = testsupport::FontChunk("Test_Font", pages, {a});
    noTable.children.erase(noTable.children.begin());
    cases.push_back({"no glyph table", testsupport::BuildPackage({noTable}), "Test_Font"});
    for (const Case& c : cases) {
        ma::Font font;
        font.name = "untouched";
        EXPECT_FALSE(Load(c.package, font, c.name)) << c.what;
        EXPECT_EQ(font.name, "untouched") << c.what;
    }
}

TEST(LoadFont, CellCleaningRemovesInkBleedingFromAbove) {
    // "A" is rows 4-11, columns 0-5 of a 16 x 16 page. A stroke of the glyph
    // above runs down column 1 into the cell and on diagonally to (2, 6) and
    // (3, 7); a separate blob sits at (4, 9); (4, 4) touches the top row but
    // the pixel above it is too faint to count as ink.
    FontImage page = Blank(16, 16);
    for (int y = 0; y <= 5; ++y) Ink(page, 1, y);
    Ink(page, 2, 6);
    Ink(page, 3, 7, 17);  // alpha 17 still counts as ink
    Ink(page, 4, 9);
    Ink(page, 4, 3, 16);  // alpha 16 does not
    Ink(page, 4, 4);
    Ink(page, 5, 11);
    const float top = 1.0f - 4.0f / 16, bottom = 1.0f - 12.0f / 16;
    ma::Font font;
    ASSERT_TRUE(Load(Package("Test_Font", {Page(page)}, {Record('A', 0, 0, bottom, 6.0f / 16, top, 8)}), font));
    const ma::Image& cell = font.glyphs.at(U'A').cell;
    ASSERT_EQ(cell.w, 6);
    ASSERT_EQ(cell.h, 8);
    auto alpha = [&](int x, int y) { return cell.px[size_t(y) * 6 + size_t(x)] >> 24; };
    EXPECT_EQ(alpha(1, 0), 0u);
    EXPECT_EQ(alpha(1, 1), 0u);
    EXPECT_EQ(alpha(2, 2), 0u);
    EXPECT_EQ(alpha(3, 3), 0u);
    EXPECT_EQ(alpha(4, 5), 255u) << "ink not connected to the bleeding stroke stays";
    EXPECT_EQ(alpha(4, 0), 255u) << "ink under a faint pixel is not a seed";
    EXPECT_EQ(alpha(5, 7), 255u);

    // The same glyph at the very top of the page has nothing above it.
    FontImage atTop = Blank(16, 8);
    Ink(atTop, 1, 0);
    ma::Font topFont;
    ASSERT_TRUE(Load(Package("Test_Font", {Page(atTop)}, {Record('A', 0, 0, 0, 0.5f, 1, 8)}), topFont));
    EXPECT_EQ(topFont.glyphs.at(U'A').cell.px[1] >> 24, 255u);
}

TEST(LoadFont, FixtureFontsLoadWithComposedLetters) {
    testsupport::GameFontSet fonts;
    std::string error;
    ASSERT_TRUE(testsupport::GameFonts(fonts, &error)) << error;
    const std::vector<uint8_t> package = testsupport::BuildPackage({fonts.small, fonts.large});
    std::string log;
    ma::Font small, large;
    ASSERT_TRUE(ma::LoadFont(package, "Ombrax_Small", small, log));
    ASSERT_TRUE(ma::LoadFont(package, "Ombrax_Large", large, log));
    EXPECT_EQ(log, "Ombrax_Small: ãõÃÕÊÔ composed on new page 3; Ombrax_Large: ãõÃÕÊÔ composed on new page 3; ");
    EXPECT_EQ(small.pages.size(), 4u);
    EXPECT_EQ(large.pages.size(), 4u);
    for (char32_t c : std::u32string(U"ãõÃÕÊÔ")) {
        for (const ma::Font* f : {&small, &large}) {
            ASSERT_TRUE(f->glyphs.count(c)) << f->name << " " << uint32_t(c);
            const ma::Glyph& g = f->glyphs.at(c);
            EXPECT_FALSE(g.empty);
            EXPECT_EQ(g.page, 3);
            EXPECT_EQ(g.y1 - g.y0, f->cell) << "composed cells keep the line height";
        }
    }
    for (char32_t c = testsupport::ICON_FIRST; c <= testsupport::ICON_LAST; ++c) {
        EXPECT_TRUE(large.glyphs.at(c).icon);
        EXPECT_FALSE(small.glyphs.at(c).icon);
    }
    EXPECT_GT(small.space, 0);
    EXPECT_LT(small.cell, large.cell);
}

namespace {

void ExpectSameFont(const ma::Font& a, const ma::Font& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.cell, b.cell);
    EXPECT_EQ(a.space, b.space);
    ASSERT_EQ(a.pages.size(), b.pages.size());
    for (size_t i = 0; i < a.pages.size(); ++i) {
        EXPECT_EQ(a.pages[i].w, b.pages[i].w) << "page " << i;
        EXPECT_EQ(a.pages[i].h, b.pages[i].h) << "page " << i;
        EXPECT_TRUE(a.pages[i].px == b.pages[i].px) << "page " << i;
    }
    ASSERT_EQ(a.glyphs.size(), b.glyphs.size());
    for (const auto& [code, g] : a.glyphs) {
        ASSERT_TRUE(b.glyphs.count(code)) << uint32_t(code);
        const ma::Glyph& h = b.glyphs.at(code);
        EXPECT_TRUE(g.page == h.page && g.x0 == h.x0 && g.y0 == h.y0 && g.x1 == h.x1 && g.y1 == h.y1 &&
                    g.left == h.left && g.advance == h.advance && g.icon == h.icon && g.empty == h.empty)
            << uint32_t(code);
        EXPECT_TRUE(g.cell.w == h.cell.w && g.cell.h == h.cell.h && g.cell.px == h.cell.px) << uint32_t(code);
    }
}

// The font loaded twice: taking the pages the composer decoded or drew, and
// decoding every page of the composed chunk.
void ExpectReuseChangesNothing(const std::vector<uint8_t>& package, const std::string& name, const char* what) {
    SCOPED_TRACE(what);
    ma::Font reused, decoded;
    std::string log1, log2;
    const bool ok1 = ma::LoadFont(package, name, reused, log1);
    ma::testing::SetReuseComposedPages(false);
    const bool ok2 = ma::LoadFont(package, name, decoded, log2);
    ma::testing::SetReuseComposedPages(true);
    ASSERT_EQ(ok1, ok2);
    EXPECT_EQ(log1, log2);
    ExpectSameFont(reused, decoded);
}

} // namespace

TEST(LoadFont, ComposedPagesTakenFromTheComposerEqualDecodedOnes) {
    testsupport::GameFontSet fonts;
    std::string error;
    ASSERT_TRUE(testsupport::GameFonts(fonts, &error)) << error;
    const std::vector<uint8_t> package = testsupport::BuildPackage({fonts.small, fonts.large});
    ExpectReuseChangesNothing(package, "Ombrax_Small", "new page, palette pages");
    ExpectReuseChangesNothing(package, "Ombrax_Large", "new page with icons");

    // 32 pages: the letters go into donor cells of edited pages.
    testsupport::P3dChunk many = fonts.small;
    while (many.children.size() < 33) many.children.push_back(many.children.back());
    many.data[many.data.size() - 4] = 32;
    ExpectReuseChangesNothing(testsupport::BuildPackage({many}), "Ombrax_Small", "donor cells");

    // The same font with RGBA pages instead of palette ones.
    testsupport::P3dChunk rgba = fonts.small;
    for (testsupport::P3dChunk& texture : rgba.children) {
        if (texture.id != ma::CHUNK_TEXTURE) continue;
        std::vector<uint8_t>& data = texture.children.at(0).children.at(0).data;
        settings::language_font::Image page;
        ASSERT_TRUE(settings::language_font::DecodePng(data.data() + 4, data.size() - 4, page.w, page.h, page.rgba));
        const std::vector<uint8_t> png = settings::language_font::EncodePng(page, {}, {});
        data.assign(4, 0);
        for (int k = 0; k < 4; ++k) data[size_t(k)] = uint8_t(png.size() >> (8 * k));
        data.insert(data.end(), png.begin(), png.end());
    }
    ExpectReuseChangesNothing(testsupport::BuildPackage({rgba}), "Ombrax_Small", "RGBA pages");

    // Nothing to compose: the pages come straight from the original chunk.
    std::vector<FontGlyphRecord> records = {Record('A', 0, 0.25f, 0.75f, 0.5f, 1, 8)};
    ExpectReuseChangesNothing(Package("Test_Font", {Page(ABlock())}, records), "Test_Font", "no recipe applies");
}
