// Composition of missing accented letters: recipes, the rewritten font chunk
// in its two forms (an extra page, donor cells), what is reported, and the
// rewritten chunk read back through the package reader and pngcheck.
#include "runtime/settings/language_font_compose.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/rcf_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace lf = settings::language_font;
namespace ma = settings::menu_art;
using testsupport::FontGlyphRecord;
using testsupport::FontImage;
using testsupport::P3dChunk;

namespace {

std::vector<lf::Recipe> AllRecipes() {
    std::vector<lf::Recipe> recipes;
    for (const char16_t* text : {u"ã = a + ñ - n @ å", u"õ = o + ñ - n @ ò", u"Ã = A + Ñ - N @ Å",
                                 u"Õ = O + Ñ - N @ Ò", u"Ê = E + Â - A @ È", u"Ô = O + Â - A @ Ö"}) {
        lf::Recipe r;
        EXPECT_TRUE(lf::ParseRecipe(text, r));
        recipes.push_back(r);
    }
    return recipes;
}

// A parsed font chunk: its children, records and page PNGs.
struct Parsed {
    std::vector<ma::Chunk> children;
    std::vector<FontGlyphRecord> records;  // in table order
    std::vector<std::string> textureNames;
    std::vector<std::vector<uint8_t>> pngs;  // one per texture
    uint32_t trailingCount = 0;
    size_t totalField = 0;
};

float F32(const uint8_t* p) {
    const uint32_t bits = ma::LE32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

Parsed Parse(const std::vector<uint8_t>& chunk) {
    Parsed out;
    const uint8_t* d = chunk.data();
    const size_t header = ma::LE32(d + 4);
    out.totalField = ma::LE32(d + 8);
    out.trailingCount = ma::LE32(d + header - 4);
    out.children = ma::Children(d, header, chunk.size());
    for (const ma::Chunk& c : out.children) {
        if (c.id == ma::CHUNK_GLYPHS) {
            const uint32_t n = ma::LE32(d + c.offset + 12);
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* r = d + c.offset + 16 + 40 * i;
                FontGlyphRecord g;
                g.texture = ma::LE32(r);
                g.u0 = F32(r + 4);
                g.v0 = F32(r + 8);
                g.u1 = F32(r + 12);
                g.v1 = F32(r + 16);
                g.left = F32(r + 20);
                g.right = F32(r + 24);
                g.width = F32(r + 28);
                g.advance = F32(r + 32);
                g.code = ma::LE32(r + 36);
                out.records.push_back(g);
            }
        } else if (c.id == ma::CHUNK_TEXTURE) {
            out.textureNames.push_back(ma::Pascal(d + c.offset + 12, c.header - 13));
            std::vector<uint8_t> png;
            auto visit = [&](const ma::Chunk& k) {
                if (k.id == ma::CHUNK_IMAGE_DATA && png.empty()) {
                    const uint32_t n = ma::LE32(d + k.offset + 12);
                    png.assign(d + k.offset + 16, d + k.offset + 16 + n);
                }
            };
            ma::Walk(d, c.offset + c.header, c.offset + c.size, visit);
            out.pngs.push_back(png);
        }
    }
    return out;
}

const FontGlyphRecord* Find(const Parsed& p, uint32_t code) {
    for (const FontGlyphRecord& r : p.records)
        if (r.code == code) return &r;
    return nullptr;
}

std::vector<uint8_t> Serialize(const P3dChunk& chunk) { return testsupport::SerializeChunk(chunk); }

// Runs pngcheck on every page PNG; returns its complaints.
std::string PngCheck(const std::vector<std::vector<uint8_t>>& pngs) {
    const char* base = std::getenv("VELKOR_TEST_TMP");
    std::error_code ec;
    std::filesystem::create_directories(base ? base : "/tmp", ec);
    std::string pattern = std::string(base ? base : "/tmp") + "/compose-XXXXXX";
    if (!mkdtemp(pattern.data())) return "cannot create a temporary folder";
    const std::filesystem::path dir = pattern;
    std::string problems;
    for (size_t i = 0; i < pngs.size(); ++i) {
        const std::filesystem::path file = dir / ("page" + std::to_string(i) + ".png");
        testsupport::WriteFileBytes(file, pngs[i]);
        const std::string command = "pngcheck -q '" + file.string() + "' > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) problems += "page " + std::to_string(i) + " fails pngcheck; ";
    }
    std::filesystem::remove_all(dir, ec);
    return problems;
}

bool HavePngCheck() { return std::system("command -v pngcheck > /dev/null 2>&1") == 0; }

// ---- a small hand-drawn font ------------------------------------------------

// Body rectangles at alpha 255 with a one-pixel outline ring at alpha 105.
void Letter(FontImage& page, int x0, int y0, int w, int h, std::initializer_list<std::array<int, 4>> bodies) {
    std::vector<uint8_t> body(size_t(w) * size_t(h), 0);
    for (const auto& b : bodies)
        for (int y = b[1]; y < b[3]; ++y)
            for (int x = b[0]; x < b[2]; ++x) body[size_t(y) * size_t(w) + size_t(x)] = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int alpha = 0;
            if (body[size_t(y) * size_t(w) + size_t(x)]) {
                alpha = 255;
            } else {
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx >= 0 && ny >= 0 && nx < w && ny < h && body[size_t(ny) * size_t(w) + size_t(nx)]) alpha = 105;
                    }
            }
            uint8_t* p = page.At(x0 + x, y0 + y);
            p[0] = p[1] = p[2] = alpha == 255 ? 255 : 0;
            p[3] = uint8_t(alpha);
        }
}

struct MiniOptions {
    int aWidth = 10;       // width of the cell of "a"
    int tildeHeight = 20;  // cell height of "ñ"
    bool descending = false;
};

// "a", "o", "n", "ñ", "å" and "ò" in 20-pixel cells on one 64 x 64 page.
P3dChunk MiniFont(const MiniOptions& o) {
    FontImage page;
    page.w = page.h = 64;
    page.rgba.assign(64 * 64 * 4, 0);
    const int H = 20;
    Letter(page, 0, 0, o.aWidth, H, {{2, 8, o.aWidth - 2, 18}});      // a
    Letter(page, 0, 21, 10, H, {{2, 8, 8, 18}});                       // n
    Letter(page, 11, 21, 10, o.tildeHeight, {{2, 8, 8, 18}, {3, 3, 7, 5}});  // ñ
    Letter(page, 22, 21, 10, H, {{3, 8, 7, 18}});                      // o
    Letter(page, 33, 21, 10, H, {{2, 8, 8, 18}, {4, 2, 6, 4}});        // å
    Letter(page, 44, 21, 10, H, {{3, 8, 7, 18}, {3, 3, 5, 5}});        // ò
    std::vector<FontGlyphRecord> records = {
        testsupport::RectRecord(U'a', 0, 0, 0, o.aWidth, H, 64, 64, 0, 11),
        testsupport::RectRecord(U'n', 0, 0, 21, 10, 21 + H, 64, 64, 0, 11),
        testsupport::RectRecord(U'ñ', 0, 11, 21, 21, 21 + o.tildeHeight, 64, 64, 0, 11),
        testsupport::RectRecord(U'o', 0, 22, 21, 32, 21 + H, 64, 64, 0, 11),
        testsupport::RectRecord(U'å', 0, 33, 21, 43, 21 + H, 64, 64, 0, 11),
        testsupport::RectRecord(U'ò', 0, 44, 21, 54, 21 + H, 64, 64, 0, 11),
    };
    if (o.descending) std::sort(records.begin(), records.end(), [](auto& x, auto& y) { return x.code > y.code; });
    return testsupport::FontChunk("Mini", {{"mini_0.bmp", page, true}}, records);
}

int Compose(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, std::string& log,
            const std::vector<lf::Recipe>& recipes = AllRecipes()) {
    return lf::ComposeFont(in.data(), in.size(), recipes, out, log);
}

} // namespace

TEST(ParseRecipe, AcceptsBothFormsAndRejectsTheRest) {
    struct Case {
        const char16_t* text;
        bool ok;
        lf::Recipe want;
    };
    const Case cases[] = {
        {u"ã = a + ñ - n @ å", true, {u'ã', u'a', u'ñ', u'n', u'å'}},
        {u"ã=a+ñ-n@å", true, {u'ã', u'a', u'ñ', u'n', u'å'}},
        {u"\tõ = o+ñ -\tn ", true, {u'õ', u'o', u'ñ', u'n', 0}},
        {u"ã = a + ñ + n @ å", false, {}},
        {u"ã = a + ñ - n @", false, {}},
        {u"ã = a + ñ - n @ å å", false, {}},
        {u"ã = a - ñ + n", false, {}},
        {u"ã = a + ñ - n # å", false, {}},
        {u"", false, {}},
        {u"=======", false, {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index++);
        lf::Recipe r{u'x', u'x', u'x', u'x', u'x'};
        EXPECT_EQ(lf::ParseRecipe(c.text, r), c.ok);
        const lf::Recipe want = c.ok ? c.want : lf::Recipe{u'x', u'x', u'x', u'x', u'x'};
        EXPECT_EQ(r.target, want.target);
        EXPECT_EQ(r.base, want.base);
        EXPECT_EQ(r.accent, want.accent);
        EXPECT_EQ(r.accentBase, want.accentBase);
        EXPECT_EQ(r.donor, want.donor);
    }
}

TEST(ComposeFont, AddsANewPageAndReadsBack) {
    testsupport::GameFontSet fonts;
    std::string error;
    ASSERT_TRUE(testsupport::GameFonts(fonts, &error)) << error;
    const std::vector<uint8_t> in = Serialize(fonts.small);
    std::vector<uint8_t> out = {0xAB};  // ComposeFont appends
    std::string log = "before; ";
    EXPECT_EQ(Compose(in, out, log), 6);
    EXPECT_EQ(log, "before; Ombrax_Small: ãõÃÕÊÔ composed on new page 3; ");
    ASSERT_EQ(out[0], 0xAB);
    out.erase(out.begin());

    const Parsed before = Parse(in), after = Parse(out);
    EXPECT_EQ(after.totalField, out.size());
    EXPECT_EQ(after.trailingCount, 4u);
    ASSERT_EQ(after.textureNames.size(), 4u);
    EXPECT_EQ(after.textureNames[3], "ombrax_small_P.bmp");
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after.pngs[i], before.pngs[i]) << "untouched page " << i;
    EXPECT_EQ(after.records.size(), before.records.size() + 6);
    for (size_t i = 1; i < after.records.size(); ++i) EXPECT_LT(after.records[i - 1].code, after.records[i].code);
    for (char32_t c : std::u32string(U"ãõÃÕÊÔ")) {
        const FontGlyphRecord* g = Find(after, c);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->texture, 3u);
        EXPECT_FLOAT_EQ(g->width, (g->u1 - g->u0) * 256);
    }
    // The base's pen metrics carry over: ã advances like a.
    EXPECT_FLOAT_EQ(Find(after, U'ã')->advance, Find(before, U'a')->advance);
    EXPECT_FLOAT_EQ(Find(after, U'Ô')->left, Find(before, U'O')->left);

    if (HavePngCheck()) {
        EXPECT_EQ(PngCheck(after.pngs), "");
    }

    // Read back through the package reader: the new glyphs are cut from the
    // new page, and composing again changes nothing.
    const std::vector<uint8_t> package = testsupport::BuildPackage({});
    std::vector<uint8_t> wrapped = package;
    wrapped.insert(wrapped.end(), out.begin(), out.end());
    wrapped[8] = uint8_t(wrapped.size()), wrapped[9] = uint8_t(wrapped.size() >> 8),
    wrapped[10] = uint8_t(wrapped.size() >> 16), wrapped[11] = uint8_t(wrapped.size() >> 24);
    ma::Font font;
    std::string again;
    ASSERT_TRUE(ma::LoadFont(wrapped, "Ombrax_Small", font, again));
    EXPECT_EQ(again, "");
    ASSERT_EQ(font.pages.size(), 4u);
    const ma::Glyph& a = font.glyphs.at(U'ã');
    EXPECT_EQ(a.page, 3);
    EXPECT_EQ(a.y1 - a.y0, font.cell);
    // The composed ã holds the whole a and more ink above it.
    const ma::Glyph& plain = font.glyphs.at(U'a');
    ASSERT_EQ(a.cell.w, plain.cell.w);
    size_t inkA = 0, inkPlain = 0;
    for (uint32_t p : a.cell.px) inkA += (p >> 24) > 24;
    for (uint32_t p : plain.cell.px) inkPlain += (p >> 24) > 24;
    EXPECT_GT(inkA, inkPlain + 20);

    std::vector<uint8_t> twice;
    std::string log2 = "x";
    EXPECT_EQ(Compose(out, twice, log2), 0);
    EXPECT_EQ(twice, out);
    EXPECT_EQ(log2, "x");
}

TEST(ComposeFont, PaintsDonorCellsWhenTheFontHasManyPages) {
    testsupport::GameFontSet fonts;
    std::string error;
    ASSERT_TRUE(testsupport::GameFonts(fonts, &error)) << error;
    P3dChunk font = fonts.small;
    // 32 pages: copies of the last one, and the texture count updated.
    while (font.children.size() < 33) font.children.push_back(font.children.back());
    font.data[font.data.size() - 4] = 32;
    // Without "Ö" the recipe for "Ô" has no donor.
    P3dChunk& table = font.children[0];
    std::vector<uint8_t> kept(table.data.begin(), table.data.begin() + 4);
    uint32_t count = 0;
    for (size_t at = 4; at + 40 <= table.data.size(); at += 40) {
        if (ma::LE32(table.data.data() + at + 36) == U'Ö') continue;
        kept.insert(kept.end(), table.data.begin() + long(at), table.data.begin() + long(at) + 40);
        ++count;
    }
    kept[0] = uint8_t(count), kept[1] = uint8_t(count >> 8);
    table.data = kept;
    const std::vector<uint8_t> in = Serialize(font);

    std::vector<uint8_t> out;
    std::string log;
    EXPECT_EQ(Compose(in, out, log), 5);
    EXPECT_EQ(log, "Ombrax_Small: ãõÃÕÊ composed in the cells of åòÅÒÈ; Ombrax_Small: cannot compose Ô; ");
    const Parsed before = Parse(in), after = Parse(out);
    EXPECT_EQ(after.trailingCount, 32u);
    EXPECT_EQ(after.textureNames, before.textureNames);
    EXPECT_EQ(after.records.size(), before.records.size() + 5);
    EXPECT_FALSE(Find(after, U'Ô'));
    const std::pair<char32_t, char32_t> pairs[] = {{U'ã', U'å'}, {U'õ', U'ò'}, {U'Ã', U'Å'}, {U'Õ', U'Ò'}, {U'Ê', U'È'}};
    std::set<uint32_t> edited;
    for (auto [target, donor] : pairs) {
        const FontGlyphRecord* t = Find(after, target);
        const FontGlyphRecord* d = Find(before, donor);
        ASSERT_TRUE(t && d);
        EXPECT_EQ(t->texture, d->texture);
        EXPECT_EQ(t->u0, d->u0);
        EXPECT_EQ(t->v1, d->v1);
        EXPECT_FLOAT_EQ(t->width, std::round((d->u1 - d->u0) * 256));
        edited.insert(d->texture);
    }
    for (size_t i = 0; i < after.pngs.size(); ++i) {
        EXPECT_EQ(after.pngs[i] != before.pngs[i], edited.count(uint32_t(i)) == 1) << "page " << i;
    }
    if (HavePngCheck()) {
        EXPECT_EQ(PngCheck(after.pngs), "");
    }

    // Read back: ã is cut from the donor's cell, which now differs from the å
    // that was there.
    const std::vector<uint8_t> original = testsupport::BuildPackage({font});
    std::vector<uint8_t> rewritten = testsupport::BuildPackage({});
    rewritten.insert(rewritten.end(), out.begin(), out.end());
    const uint32_t total = uint32_t(rewritten.size());
    std::memcpy(rewritten.data() + 8, &total, 4);
    ma::Font plainFont, composedFont;
    std::string ignored;
    ASSERT_TRUE(ma::LoadFont(rewritten, "Ombrax_Small", composedFont, ignored));
    const ma::Glyph& a = composedFont.glyphs.at(U'ã');
    EXPECT_FALSE(a.empty);
    EXPECT_EQ(a.x0, composedFont.glyphs.at(U'å').x0);
    EXPECT_EQ(a.cell.px, composedFont.glyphs.at(U'å').cell.px) << "the donor's cell now shows ã";
    EXPECT_EQ(composedFont.pages.size(), 32u);
}

TEST(ComposeFont, ReportsLettersThatCannotBeMade) {
    struct Case {
        const char* what;
        MiniOptions options;
        int placed;
        std::string log;
    };
    const Case cases[] = {
        {"both fit", {}, 2, "Mini: ãõ composed on new page 1; "},
        {"a letter wider than the page minus 2", {63, 20, false}, 1,
         "Mini: õ composed on new page 1; Mini: cannot compose ã; "},
        {"cells of different heights", {10, 19, false}, 0, "Mini: cannot compose ãõ; "},
    };
    const std::vector<lf::Recipe> recipes = {AllRecipes()[0], AllRecipes()[1]};
    for (const Case& c : cases) {
        const std::vector<uint8_t> in = Serialize(MiniFont(c.options));
        std::vector<uint8_t> out;
        std::string log;
        EXPECT_EQ(Compose(in, out, log, recipes), c.placed) << c.what;
        EXPECT_EQ(log, c.log) << c.what;
        if (c.placed == 0) {
            EXPECT_EQ(out, in) << c.what;
        }
    }
    // The four recipes whose parts the mini font lacks are all reported.
    std::vector<uint8_t> out;
    std::string log;
    EXPECT_EQ(Compose(Serialize(MiniFont({})), out, log), 2);
    EXPECT_EQ(log, "Mini: ãõ composed on new page 1; Mini: cannot compose ÃÕÊÔ; ");
}

TEST(ComposeFont, ComposedMiniLetterCarriesTheAccent) {
    const std::vector<uint8_t> in = Serialize(MiniFont({10, 20, true}));
    std::vector<uint8_t> out;
    std::string log;
    ASSERT_EQ(Compose(in, out, log, {AllRecipes()[0]}), 1);
    const Parsed after = Parse(out);
    for (size_t i = 1; i < after.records.size(); ++i) EXPECT_LT(after.records[i - 1].code, after.records[i].code);
    // Decode the new page and look at ã: a's body plus the tilde bar (rows 3-4,
    // columns 3-6) with its outline ring, nothing else.
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(lf::DecodePng(after.pngs[1].data(), after.pngs[1].size(), w, h, rgba));
    const FontGlyphRecord* g = Find(after, U'ã');
    ASSERT_TRUE(g);
    const int x0 = int(std::lround(g->u0 * w)), y0 = int(std::lround((1 - g->v1) * h));
    EXPECT_EQ(x0, 1);
    EXPECT_EQ(y0, 1);
    auto alpha = [&](int x, int y) { return rgba[(size_t(y0 + y) * size_t(w) + size_t(x0 + x)) * 4 + 3]; };
    EXPECT_EQ(alpha(3, 3), 255);
    EXPECT_EQ(alpha(6, 4), 255);
    EXPECT_EQ(alpha(2, 2), 105);
    EXPECT_EQ(alpha(7, 5), 105);
    EXPECT_EQ(alpha(5, 6), 0);
    EXPECT_EQ(alpha(5, 12), 255);
    EXPECT_EQ(alpha(1, 1), 0);
}

TEST(ComposeFont, LeavesUnusableChunksAsTheyAre) {
    const std::vector<uint8_t> good = Serialize(MiniFont({}));
    auto withWord = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> v = good;
        std::memcpy(v.data() + at, &value, 4);
        return v;
    };
    const size_t header = ma::LE32(good.data() + 4);
    struct Case {
        const char* what;
        std::vector<uint8_t> in;
    };
    const Case cases[] = {
        {"empty", {}},
        {"shorter than a chunk head", std::vector<uint8_t>(good.begin(), good.begin() + 11)},
        {"header below 16", withWord(4, 15)},
        {"header past the end", withWord(4, uint32_t(good.size() + 1))},
        {"texture count disagrees", withWord(header - 4, 2)},
        {"no textures", std::vector<uint8_t>(good.begin(), good.begin() + long(header))},
        {"glyph count past the table", withWord(header + 12, 1000)},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out;
        std::string log;
        EXPECT_EQ(lf::ComposeFont(c.in.data(), c.in.size(), AllRecipes(), out, log), 0) << c.what;
        EXPECT_EQ(out, c.in) << c.what;
        EXPECT_EQ(log, "") << c.what;
    }
}
