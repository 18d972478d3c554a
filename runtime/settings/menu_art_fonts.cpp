// The game's bitmap fonts: loading a font chunk into cleaned glyph cells, the
// overlay-font fallback, button icons inside text, and the layout of a line.
#include "runtime/gpu/overlay_font.h"
#include "runtime/log.h"
#include "runtime/settings/language_font_compose.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace settings::menu_art {

namespace {

constexpr uint32_t INK = 0x11000000;  // alpha of at least 17

// The letters that accented characters fold to when a font cannot show them.
struct PlainLetters {
    const char32_t* letters;
    char plain;
};
const PlainLetters MAP[7] = {
    {U"ÁÀÂÃÄáàâãä", 'A'}, {U"ÉÈÊËéèêë", 'E'}, {U"ÍÌÎÏíìîï", 'I'}, {U"ÓÒÔÕÖóòôõö", 'O'},
    {U"ÚÙÛÜúùûü", 'U'},   {U"Çç", 'C'},       {U"Ññ", 'N'},
};

// The letters Brazilian Portuguese needs that the game's fonts lack, each
// built from the font's own glyphs.
const char16_t* const RECIPES[6] = {
    u"ã = a + ñ - n @ å", u"õ = o + ñ - n @ ò", u"Ã = A + Ñ - N @ Å",
    u"Õ = O + Ñ - N @ Ò", u"Ê = E + Â - A @ È", u"Ô = O + Â - A @ Ö",
};

// Float to int without undefined behaviour: not-a-number gives 0, values
// beyond +-2^30 are clamped there. Rounds halves away from zero.
int RoundToInt(double v) {
    if (!(v == v)) return 0;
    v = std::clamp(v, -1073741824.0, 1073741824.0);
    return static_cast<int>(std::lround(v));
}
int TruncToInt(double v) {
    if (!(v == v)) return 0;
    v = std::clamp(v, -1073741824.0, 1073741824.0);
    return static_cast<int>(v);
}
// round(v) clamped into [lo, hi].
int RoundClamp(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;  // also not-a-number
    if (v >= hi) return hi;
    return std::clamp(static_cast<int>(std::lround(v)), lo, hi);
}

// Erases the ink that bleeds into a glyph cell from the glyph above it on the
// page: every inked top-row pixel whose page pixel just above the cell is also
// inked seeds a flood fill (8 neighbours) over the cell's inked pixels.
void CleanCell(const Image& page, int x0, int y0, Image& cell) {
    if (y0 <= 0 || cell.w <= 0 || cell.h <= 0) return;
    std::vector<int> stack;
    const uint32_t* above = page.px.data() + size_t(y0 - 1) * size_t(page.w) + size_t(x0);
    for (int j = 0; j < cell.w; ++j) {
        if (cell.px[size_t(j)] >= INK && above[j] >= INK) {
            cell.px[size_t(j)] = 0;
            stack.push_back(j);
        }
    }
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        const int cx = at % cell.w, cy = at / cell.w;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = cx + dx, ny = cy + dy;
                if (nx < 0 || ny < 0 || nx >= cell.w || ny >= cell.h) continue;
                uint32_t& p = cell.px[size_t(ny) * size_t(cell.w) + size_t(nx)];
                if (p >= INK) {
                    p = 0;
                    stack.push_back(ny * cell.w + nx);
                }
            }
        }
    }
}

using IconKey = std::tuple<int, char32_t, int, int, bool>;
std::mutex s_mutex;
std::map<IconKey, Image>* s_icons = nullptr;  // created on first use, never freed

// The replacement prompt icon for the player's prompt style, or null.
const Image* PromptIcon(int style, char32_t icon, int dw, int dh, bool flipX, const Image& game) {
    std::lock_guard<std::mutex> lock(s_mutex);
    if (!s_icons) s_icons = new std::map<IconKey, Image>();
    const IconKey key{style, icon, dw, dh, flipX};
    auto found = s_icons->find(key);
    if (found == s_icons->end()) {
        Image entry;
        std::vector<uint32_t> rgba;
        const uint32_t* pixels = game.px.size() == size_t(dw) * size_t(dh) ? game.px.data() : nullptr;
        if (settings::prompts::Draw(icon, uint32_t(style), dw, dh, pixels, rgba) &&
            rgba.size() >= size_t(dw) * size_t(dh)) {
            std::vector<unsigned char> bytes(size_t(dw) * size_t(dh) * 4);
            for (size_t i = 0; i < size_t(dw) * size_t(dh); ++i) {
                for (int c = 0; c < 4; ++c) bytes[i * 4 + size_t(c)] = uint8_t(rgba[i] >> (8 * c));
            }
            Premultiplied(bytes, dw, dh, entry);
        }
        found = s_icons->emplace(key, std::move(entry)).first;
    }
    return found->second.w > 0 ? &found->second : nullptr;
}

} // namespace

// ---- loading ----------------------------------------------------------------

namespace {

std::atomic<bool> s_reusePages{true};  // off only in tests that compare against decoding every page

// A page the composer decoded or drew, premultiplied.
void TakePage(const language_font::KnownPages::Pixels& pixels, Image& page) {
    const size_t w = size_t(pixels.w), h = size_t(pixels.h);
    page.w = pixels.w;
    page.h = pixels.h;
    page.px.resize(w * h);
    const language_font::EncodedPixels& drawn = pixels.drawn;
    if (!drawn.known || drawn.raw.empty()) {
        PremultiplyPixels(drawn.known ? drawn.rgba.data() : pixels.decoded.get(), page.px.size(), page.px.data());
        return;
    }
    // Palette indices through the premultiplied palette.
    uint8_t entries[256 * 4];
    for (size_t i = 0; i < 256; ++i) {
        for (size_t c = 0; c < 4; ++c) entries[i * 4 + c] = uint8_t(drawn.palette[i] >> (8 * c));
    }
    uint32_t palette[256];
    PremultiplyPixels(entries, 256, palette);
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* index = drawn.raw.data() + y * (w + 1) + 1;
        uint32_t* out = page.px.data() + y * w;
        for (size_t x = 0; x < w; ++x) out[x] = palette[index[x]];
    }
}

} // namespace

namespace testing {
void SetReuseComposedPages(bool reuse) { s_reusePages = reuse; }
} // namespace testing

bool LoadFont(const std::vector<unsigned char>& package, const std::string& name, Font& font,
              std::string& log) {
    // 1. The first font chunk of that exact name.
    const uint8_t* data = package.data();
    Chunk chunk;
    bool found = false;
    auto visit = [&](const Chunk& c) {
        if (found || c.id != CHUNK_FONT || c.header < 18) return;
        if (Pascal(data + c.offset + 16, c.header - 17) == name) {
            chunk = c;
            found = true;
        }
    };
    if (package.size() >= 12) Walk(data, 0, package.size(), visit);
    if (!found) return false;

    // 2-3. Compose the missing letters; only the composed chunk is read on.
    std::vector<language_font::Recipe> recipes;
    for (const char16_t* text : RECIPES) {
        language_font::Recipe recipe;
        if (language_font::ParseRecipe(text, recipe)) recipes.push_back(recipe);
    }
    std::vector<uint8_t> composed;
    language_font::KnownPages known;
    language_font::ComposeFont(data + chunk.offset, chunk.size, recipes, composed, log,
                               s_reusePages ? &known : nullptr);
    if (composed.size() < 16) return false;
    const size_t header = LE32(composed.data() + 4);
    if (header < 16 || composed.size() < header) return false;

    // 4. The glyph table (the last one) and the pages in chunk order; a page
    // that does not decode stays as an empty image so indices keep their places.
    Font loaded;
    Chunk table;
    bool haveTable = false;
    for (const Chunk& child : Children(composed.data(), header, composed.size())) {
        if (child.id == CHUNK_GLYPHS) {
            table = child;
            haveTable = true;
        } else if (child.id == CHUNK_TEXTURE) {
            // The composer already holds the pixels of the pages it decoded
            // or drew; the others are decoded here.
            Image& page = loaded.pages.emplace_back();
            const uint8_t* png = nullptr;
            size_t pngSize = 0;
            const language_font::KnownPages::Pixels* pixels =
                OwnerPng(composed.data(), child, png, pngSize) ? known.Find(size_t(png - composed.data()), pngSize)
                                                                : nullptr;
            if (pixels) {
                TakePage(*pixels, page);
            } else if (!OwnerImage(composed.data(), child, page)) {
                page = Image{};
            }
        }
    }

    // 5. A glyph table that holds its records.
    if (!haveTable || table.header < 16) return false;
    const uint8_t* t = composed.data() + table.offset;
    const uint64_t count = LE32(t + 12);
    if (uint64_t(table.size) < 16 + 40 * count) return false;

    // 6. The glyphs; a later record of the same code replaces the earlier one.
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* r = t + 16 + 40 * i;
        const uint32_t texture = LE32(r);
        const float u0 = LEF(r + 4), v0 = LEF(r + 8), u1 = LEF(r + 12), v1 = LEF(r + 16);
        Glyph g;
        g.page = int(texture & 0x7FFFFFFF);
        g.icon = (texture & 0x80000000u) != 0;
        g.left = LEF(r + 20);
        g.advance = LEF(r + 32);
        const char32_t code = LE32(r + 36);
        const size_t pageIndex = texture & 0x7FFFFFFF;
        if (u0 < u1 && v0 < v1 && pageIndex < loaded.pages.size() && loaded.pages[pageIndex].w > 0) {
            const Image& page = loaded.pages[pageIndex];
            const int W = page.w, H = page.h;
            g.x0 = RoundClamp(double(u0) * W, 0, W);
            g.x1 = RoundClamp(double(u1) * W, g.x0, W);
            g.y0 = RoundClamp(double(H) * (1.0 - double(v1)), 0, H);
            g.y1 = RoundClamp(double(H) * (1.0 - double(v0)), g.y0, H);
        }
        g.empty = g.x1 <= g.x0 || g.y1 <= g.y0;
        if (!g.empty && !g.icon) {
            const Image& page = loaded.pages[pageIndex];
            g.cell = Crop(page, g.x0, g.y0, g.x1 - g.x0, g.y1 - g.y0);
            CleanCell(page, g.x0, g.y0, g.cell);
        }
        loaded.glyphs[code] = std::move(g);
    }

    // 7. The line height comes from "A"; the space from " " when there is one.
    auto a = loaded.glyphs.find(U'A');
    if (a == loaded.glyphs.end() || a->second.empty) return false;
    loaded.cell = a->second.y1 - a->second.y0;
    auto space = loaded.glyphs.find(U' ');
    loaded.space = space != loaded.glyphs.end() ? space->second.advance : 0.22f * float(loaded.cell);
    loaded.name = name;
    font = std::move(loaded);
    return true;
}

// ---- characters -------------------------------------------------------------

char Plain(char32_t c) {
    if (c <= 127) return char(std::toupper(int(c)));
    for (const PlainLetters& entry : MAP) {
        for (const char32_t* p = entry.letters; *p; ++p) {
            if (*p == c) return entry.plain;
        }
    }
    return ' ';
}

const Font* LoadedFont(FontId font) { return FontsOk() ? &FontSlot(font) : nullptr; }

std::u32string Utf32(const std::string& utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i++]);
        if (lead < 0x80) {
            out.push_back(lead);
            continue;
        }
        int more;
        char32_t c;
        if (lead >= 0xC0 && lead <= 0xDF) {
            more = 1;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            c = lead & 0x0F;
        } else {
            more = 3;
            c = lead & 0x07;
        }
        for (; more > 0 && i < n; --more) c = c << 6 | (static_cast<unsigned char>(utf8[i++]) & 0x3F);
        out.push_back(c);
    }
    return out;
}

bool HasGlyph(FontId font, char32_t c) {
    if (const Font* f = LoadedFont(font)) {
        auto g = f->glyphs.find(c);
        return g != f->glyphs.end() && !g->second.empty;
    }
    if (c >= 128) return false;
    return gpu::overlay_font::Find(Plain(c)) != nullptr;
}

// ---- icons ------------------------------------------------------------------

namespace {

const Glyph* IconGlyph(const Font* large, char32_t icon) {
    if (!large) return nullptr;
    auto g = large->glyphs.find(icon);
    if (g == large->glyphs.end() || g->second.empty) return nullptr;
    return &g->second;
}

} // namespace

float IconWidth(char32_t icon, float height) {
    const Glyph* g = IconGlyph(LoadedFont(FontId::Large), icon);
    if (!g) return 0;
    return std::round(height * float(g->x1 - g->x0) / float(g->y1 - g->y0));
}

float DrawIcon(Canvas& canvas, char32_t icon, float x, float y, float height, float opacity,
               bool flipX) {
    const Font* large = LoadedFont(FontId::Large);
    const Glyph* g = IconGlyph(large, icon);
    if (!g || size_t(g->page) >= large->pages.size()) return 0;
    const int dh = RoundToInt(height);
    const int dw = TruncToInt(IconWidth(icon, height));
    if (dw <= 0 || dh <= 0) return 0;  // nothing to draw (a height of 0 or below)
    const Image& image = Scaled(large->pages[size_t(g->page)], g->x0, g->y0, g->x1 - g->x0,
                                g->y1 - g->y0, dw, dh, flipX, false);
    const int alpha = std::clamp(RoundToInt(double(opacity) * 255.0), 0, 255);
    const Image* chosen = &image;
    const int style = settings::prompts::Style();
    if (dh > 0 && dw > 0 && style != 0) {
        if (const Image* replacement = PromptIcon(style, icon, dw, dh, flipX, image)) chosen = replacement;
    }
    canvas.Blit(*chosen, RoundToInt(x), RoundToInt(y), Color{255, 255, 255, uint8_t(alpha)}, 0x40000000);
    return float(dw);
}

// ---- layout -----------------------------------------------------------------

namespace {

float Layout(Canvas* canvas, FontId font, const std::u32string& text, float x, float y, float cell,
             const TextStyle* style, float iconScale) {
    float pen = x;
    if (const Font* f = LoadedFont(font)) {
        const float k = cell / float(f->cell);
        const float h = iconScale * cell;
        const float iconTop = y + (cell - h) * 0.5f;
        for (char32_t c : text) {
            auto found = f->glyphs.find(c);
            if (found == f->glyphs.end() || found->second.empty) {
                pen += f->space * k;
                continue;
            }
            const Glyph& g = found->second;
            if (g.icon) {
                const float w = IconWidth(c, h);
                if (canvas) DrawIcon(*canvas, c, pen, iconTop, h, style ? style->opacity : 1.0f, false);
                pen += w;
                continue;
            }
            if (canvas && style) {
                const int dw = std::max(1, RoundToInt(double(g.x1 - g.x0) * k));
                const int dh = std::max(1, RoundToInt(double(g.y1 - g.y0) * k));
                const Image& scaled = Scaled(g.cell, 0, 0, g.cell.w, g.cell.h, dw, dh, false, false);
                canvas->BlitGlyph(scaled, RoundToInt(pen + g.left * k), RoundToInt(y), *style);
            }
            pen += g.advance * k;
        }
        return pen;
    }

    // The overlay font: rows 1-7 of a 9-unit line, 5 of a 6-unit advance.
    const float u = cell / 9.0f;
    Color ink{};
    if (style) {
        ink = style->fill;
        ink.a = uint8_t(std::clamp(RoundToInt(double(style->fill.a) * style->opacity), 0, 255));
    }
    for (char32_t c : text) {
        const gpu::overlay_font::Glyph* glyph = gpu::overlay_font::Find(Plain(c));
        if (glyph && canvas && style) {
            for (int r = 0; r < gpu::overlay_font::ROWS; ++r) {
                for (int col = 0; col < gpu::overlay_font::COLUMNS; ++col) {
                    if (!gpu::overlay_font::Ink(*glyph, col, r)) continue;
                    canvas->FillGradient(TruncToInt(pen + col * u), TruncToInt(y + (r + 1) * u),
                                         TruncToInt(pen + (col + 1) * u), TruncToInt(y + (r + 2) * u), ink,
                                         ink);
                }
            }
        }
        pen += 6.0f * u;
    }
    return pen;
}

} // namespace

float TextWidth(FontId font, const std::u32string& text, float cell, float iconScale) {
    return Layout(nullptr, font, text, 0, 0, cell, nullptr, iconScale);
}

float DrawGameText(Canvas& canvas, FontId font, const std::u32string& text, float x, float y,
                   float cell, const TextStyle& style, float iconScale) {
    return Layout(&canvas, font, text, x, y, cell, &style, iconScale);
}

} // namespace settings::menu_art
