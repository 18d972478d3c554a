// Renders the synthetic dump's bitmap fonts from a system TrueType font with
// stb_truetype, in the game's outlined alpha ramp, and writes them as P3D font
// chunks.
#include "tests/support/font_fixture.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <system_error>

namespace testsupport {

namespace {

constexpr uint32_t CHUNK_FONT = 0x22000;
constexpr uint32_t CHUNK_GLYPHS = 0x22001;

// Alpha of the outline at full coverage, and what the body adds on top.
constexpr float OUTLINE_ALPHA = 105.0f;
constexpr float BODY_ALPHA = 150.0f;

const char* const ICON_NAMES[] = {"A",    "B",     "X",  "Y",  "LB",   "RB",   "LT",
                                  "RT",   "BACK",  "START", "LS", "RS", "DPAD", "GUIDE"};

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::filesystem::path FindTrueType() {
    if (const char* env = std::getenv("VELKOR_FIXTURE_TTF"); env && *env) return env;
    const char* const candidates[] = {
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/dejavu/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/TTF/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/dejavu-sans-fonts/DejaVuSans-Bold.ttf",
        "/usr/local/share/fonts/DejaVuSans-Bold.ttf",
    };
    std::error_code ec;
    for (const char* c : candidates) {
        if (std::filesystem::is_regular_file(c, ec)) return c;
    }
    return {};
}

// ---- coverage maps ----------------------------------------------------------

struct Coverage {
    int w = 0, h = 0;
    std::vector<float> v;
    float At(int x, int y) const {
        return (x < 0 || y < 0 || x >= w || y >= h) ? 0.0f : v[size_t(y) * size_t(w) + size_t(x)];
    }
};

// The dilation of `body` by `radius` pixels with an anti-aliased edge.
Coverage Dilate(const Coverage& body, float radius) {
    struct Tap {
        int dx, dy;
        float weight;
    };
    std::vector<Tap> taps;
    const int reach = int(std::ceil(radius + 0.5f));
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const float w = std::clamp(radius + 0.5f - std::sqrt(float(dx * dx + dy * dy)), 0.0f, 1.0f);
            if (w > 0) taps.push_back({dx, dy, w});
        }
    }
    Coverage out{body.w, body.h, std::vector<float>(body.v.size(), 0.0f)};
    for (int y = 0; y < body.h; ++y) {
        for (int x = 0; x < body.w; ++x) {
            float best = 0;
            for (const Tap& t : taps) best = std::max(best, t.weight * body.At(x + t.dx, y + t.dy));
            out.v[size_t(y) * size_t(body.w) + size_t(x)] = best;
        }
    }
    return out;
}

uint8_t RampGrey(int alpha) {
    return uint8_t(std::clamp((float(alpha) - OUTLINE_ALPHA) * 255.0f / BODY_ALPHA, 0.0f, 255.0f) + 0.5f);
}

// ---- TrueType rendering -----------------------------------------------------

struct TrueType {
    std::vector<uint8_t> bytes;
    stbtt_fontinfo info{};
    bool ok = false;
};

// One rendered letter before packing.
struct Letter {
    uint32_t code = 0;
    int x0 = 0, y0 = 0;  // bitmap box relative to the pen and the baseline
    Coverage body;
    float advance = 0;
};

Letter RenderLetter(const TrueType& tt, uint32_t code, float scale) {
    Letter l;
    l.code = code;
    int adv = 0, lsb = 0;
    stbtt_GetCodepointHMetrics(&tt.info, int(code), &adv, &lsb);
    l.advance = std::round(float(adv) * scale);
    int x0, y0, x1, y1;
    stbtt_GetCodepointBitmapBox(&tt.info, int(code), scale, scale, &x0, &y0, &x1, &y1);
    l.x0 = x0;
    l.y0 = y0;
    l.body.w = std::max(0, x1 - x0);
    l.body.h = std::max(0, y1 - y0);
    if (l.body.w > 0 && l.body.h > 0) {
        std::vector<unsigned char> bits(size_t(l.body.w) * size_t(l.body.h));
        stbtt_MakeCodepointBitmap(&tt.info, bits.data(), l.body.w, l.body.h, l.body.w, scale, scale, int(code));
        l.body.v.resize(bits.size());
        for (size_t i = 0; i < bits.size(); ++i) l.body.v[i] = float(bits[i]) / 255.0f;
    }
    return l;
}

// ---- straight-alpha painting for the icons ----------------------------------

void Over(FontImage& img, int x, int y, uint8_t r, uint8_t g, uint8_t b, float alpha) {
    if (x < 0 || y < 0 || x >= img.w || y >= img.h || alpha <= 0) return;
    uint8_t* d = img.At(x, y);
    const float da = d[3] / 255.0f;
    const float oa = alpha + da * (1 - alpha);
    auto mix = [&](uint8_t s, uint8_t dc) {
        return uint8_t(std::clamp((s * alpha + dc * da * (1 - alpha)) / oa, 0.0f, 255.0f) + 0.5f);
    };
    d[0] = mix(r, d[0]);
    d[1] = mix(g, d[1]);
    d[2] = mix(b, d[2]);
    d[3] = uint8_t(std::clamp(oa * 255.0f + 0.5f, 0.0f, 255.0f));
}

struct Rgb {
    uint8_t r, g, b;
};

// Fills the shape `inside` (in cell pixel coordinates) with 4 x 4 samples per pixel.
void FillShape(FontImage& img, int ox, int oy, int w, int h, const std::function<bool(float, float)>& inside,
               Rgb c, float opacity = 1.0f) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) hits += inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4) ? 1 : 0;
            }
            if (hits) Over(img, ox + x, oy + y, c.r, c.g, c.b, opacity * float(hits) / 16.0f);
        }
    }
}

std::function<bool(float, float)> Circle(float cx, float cy, float r) {
    return [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}
std::function<bool(float, float)> RoundRect(float x0, float y0, float x1, float y1, float r) {
    return [=](float x, float y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) return false;
        const float cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    };
}
std::function<bool(float, float)> Triangle(float ax, float ay, float bx, float by, float cx, float cy) {
    return [=](float x, float y) {
        auto side = [&](float px, float py, float qx, float qy) { return (qx - px) * (y - py) - (qy - py) * (x - px); };
        const float d1 = side(ax, ay, bx, by), d2 = side(bx, by, cx, cy), d3 = side(cx, cy, ax, ay);
        return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
    };
}

// White text with a dark outline, centred on (cx, cy).
void Label(FontImage& img, const TrueType& tt, int ox, int oy, float cx, float cy, float px, const char* text) {
    const float scale = stbtt_ScaleForPixelHeight(&tt.info, px);
    std::vector<Letter> letters;
    float width = 0;
    int top = 0, bottom = 0;
    for (const char* p = text; *p; ++p) {
        letters.push_back(RenderLetter(tt, uint8_t(*p), scale));
        width += letters.back().advance;
        top = std::min(top, letters.back().y0);
        bottom = std::max(bottom, letters.back().y0 + letters.back().body.h);
    }
    float pen = cx - width / 2;
    const float base = cy - float(top + bottom) / 2;
    const float radius = std::max(1.0f, px / 12);
    const int reach = int(std::ceil(radius)) + 1;
    for (const Letter& l : letters) {
        // The letter on a margin wide enough for its outline.
        Coverage body{l.body.w + 2 * reach, l.body.h + 2 * reach, {}};
        body.v.assign(size_t(body.w) * size_t(body.h), 0.0f);
        for (int y = 0; y < l.body.h; ++y) {
            for (int x = 0; x < l.body.w; ++x) body.v[size_t(y + reach) * size_t(body.w) + size_t(x + reach)] = l.body.At(x, y);
        }
        const Coverage outline = Dilate(body, radius);
        const int lx = ox + int(std::lround(pen)) + l.x0 - reach, ly = oy + int(std::lround(base)) + l.y0 - reach;
        for (int y = 0; y < body.h; ++y) {
            for (int x = 0; x < body.w; ++x) {
                Over(img, lx + x, ly + y, 24, 18, 12, outline.At(x, y));
                Over(img, lx + x, ly + y, 255, 255, 255, body.At(x, y));
            }
        }
        pen += l.advance;
    }
}

// Paints one button icon into a w x h cell at (ox, oy) of `img`.
void PaintIcon(FontImage& img, const TrueType& tt, uint32_t code, int ox, int oy, int w, int h) {
    const float H = float(h), W = float(w);
    const float cx = W / 2, cy = H / 2;
    const Rgb rim{28, 24, 20};
    const std::string name = IconName(code);
    auto face = [&](Rgb fill, const char* letter) {
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.44f), rim);
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.39f), fill);
        FillShape(img, ox, oy, w, h, Circle(cx - H * 0.08f, cy - H * 0.1f, H * 0.22f), Rgb{255, 255, 255}, 0.18f);
        Label(img, tt, ox, oy, cx, cy, H * 0.46f, letter);
    };
    if (name == "A") face({60, 176, 67}, "A");
    else if (name == "B") face({210, 47, 39}, "B");
    else if (name == "X") face({47, 111, 210}, "X");
    else if (name == "Y") face({232, 185, 35}, "Y");
    else if (name == "LB" || name == "RB") {
        FillShape(img, ox, oy, w, h, RoundRect(W * 0.04f, H * 0.2f, W * 0.96f, H * 0.8f, H * 0.2f), rim);
        FillShape(img, ox, oy, w, h, RoundRect(W * 0.08f, H * 0.25f, W * 0.92f, H * 0.75f, H * 0.16f),
                  Rgb{96, 100, 108});
        Label(img, tt, ox, oy, cx, cy, H * 0.36f, name.c_str());
    } else if (name == "LT" || name == "RT") {
        FillShape(img, ox, oy, w, h, RoundRect(W * 0.1f, H * 0.08f, W * 0.9f, H * 0.92f, W * 0.3f), rim);
        FillShape(img, ox, oy, w, h, RoundRect(W * 0.16f, H * 0.13f, W * 0.84f, H * 0.87f, W * 0.25f),
                  Rgb{96, 100, 108});
        Label(img, tt, ox, oy, cx, cy, H * 0.34f, name.c_str());
    } else if (name == "BACK" || name == "START") {
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.4f), rim);
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.35f), Rgb{150, 154, 160});
        const float s = H * 0.16f;
        if (name == "BACK") FillShape(img, ox, oy, w, h, Triangle(cx - s, cy, cx + s, cy - s, cx + s, cy + s), rim);
        else FillShape(img, ox, oy, w, h, Triangle(cx + s, cy, cx - s, cy - s, cx - s, cy + s), rim);
    } else if (name == "LS" || name == "RS") {
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.45f), rim);
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.4f), Rgb{70, 74, 80});
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.3f), Rgb{48, 50, 56});
        Label(img, tt, ox, oy, cx, cy, H * 0.42f, name == "LS" ? "L" : "R");
    } else if (name == "DPAD") {
        const float a = H * 0.42f, b = H * 0.15f;
        auto cross = [&](float grow) {
            return [=](float x, float y) {
                const float dx = std::abs(x - cx), dy = std::abs(y - cy);
                return (dx <= a + grow && dy <= b + grow) || (dx <= b + grow && dy <= a + grow);
            };
        };
        FillShape(img, ox, oy, w, h, cross(H * 0.04f), rim);
        FillShape(img, ox, oy, w, h, cross(0), Rgb{150, 154, 160});
        FillShape(img, ox, oy, w, h, Circle(cx, cy, b * 0.6f), Rgb{96, 100, 108});
    } else {  // GUIDE
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.46f), rim);
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.42f), Rgb{200, 204, 210});
        FillShape(img, ox, oy, w, h, Circle(cx, cy, H * 0.33f), Rgb{40, 120, 48});
        Label(img, tt, ox, oy, cx, cy, H * 0.42f, "V");
    }
}

float IconAspect(uint32_t code) {
    const std::string name = IconName(code);
    if (name == "LB" || name == "RB") return 1.6f;
    if (name == "LT" || name == "RT") return 0.9f;
    return 1.0f;
}

// ---- font assembly ----------------------------------------------------------

struct FontSpec {
    const char* name;
    const char* pagePrefix;
    float pixelHeight;  // TrueType size
    float outline;      // outline radius in pixels
    int pageW, pageH;
    bool icons;
};

// Places cells left to right, top to bottom, one pixel apart, opening a new
// page when one is full.
struct Packer {
    int pageW, pageH;
    int x = 1, y = 1, row = 0;
    int page = 0;
    void Place(int w, int h, int& px, int& py, int& pg) {
        if (x + w + 1 > pageW) {
            x = 1;
            y += row + 1;
            row = 0;
        }
        if (y + h + 1 > pageH) {
            ++page;
            x = 1;
            y = 1;
            row = 0;
        }
        px = x;
        py = y;
        pg = page;
        x += w + 1;
        row = std::max(row, h);
    }
};

P3dChunk BuildFont(const TrueType& tt, const FontSpec& fontSpec) {
    const float scale = stbtt_ScaleForPixelHeight(&tt.info, fontSpec.pixelHeight);
    std::vector<Letter> letters;
    for (uint32_t code : FixtureCharacters()) {
        if (fontSpec.icons && code >= ICON_FIRST && code <= ICON_LAST) continue;
        letters.push_back(RenderLetter(tt, code, scale));
    }
    const int pad = int(std::ceil(fontSpec.outline)) + 1;
    int above = 0, below = 0;
    for (const Letter& l : letters) {
        if (l.body.w == 0) continue;
        above = std::max(above, -l.y0);
        below = std::max(below, l.y0 + l.body.h);
    }
    const int cellH = above + below + 2 * pad;
    const int baseline = pad + above;

    std::vector<FontPage> pages;
    std::vector<FontGlyphRecord> records;
    Packer packer{fontSpec.pageW, fontSpec.pageH};
    auto pageAt = [&](int index) -> FontImage& {
        while (int(pages.size()) <= index) {
            FontPage p;
            p.name = std::string(fontSpec.pagePrefix) + std::to_string(pages.size()) + ".bmp";
            p.image.w = fontSpec.pageW;
            p.image.h = fontSpec.pageH;
            p.image.rgba.assign(size_t(fontSpec.pageW) * size_t(fontSpec.pageH) * 4, 0);
            p.palette = true;
            pages.push_back(std::move(p));
        }
        return pages[size_t(index)].image;
    };
    for (const Letter& l : letters) {
        if (l.body.w == 0) {  // the space: an advance without a cell
            FontGlyphRecord r;
            r.code = l.code;
            r.advance = l.advance + fontSpec.outline;
            records.push_back(r);
            continue;
        }
        // The body in a cell of the full line height with room for the outline.
        Coverage body{l.body.w + 2 * pad, cellH, std::vector<float>(size_t(l.body.w + 2 * pad) * size_t(cellH), 0)};
        for (int y = 0; y < l.body.h; ++y) {
            const int cy = baseline + l.y0 + y;
            if (cy < 0 || cy >= cellH) continue;
            for (int x = 0; x < l.body.w; ++x) {
                body.v[size_t(cy) * size_t(body.w) + size_t(pad + x)] = l.body.At(x, y);
            }
        }
        const Coverage outline = Dilate(body, fontSpec.outline);
        int px, py, pg;
        packer.Place(body.w, cellH, px, py, pg);
        FontImage& page = pageAt(pg);
        for (int y = 0; y < cellH; ++y) {
            for (int x = 0; x < body.w; ++x) {
                const float a = OUTLINE_ALPHA * outline.At(x, y) + BODY_ALPHA * body.At(x, y);
                const int alpha = std::clamp(int(a + 0.5f), 0, 255);
                uint8_t* d = page.At(px + x, py + y);
                const uint8_t grey = alpha ? RampGrey(alpha) : 0;
                d[0] = d[1] = d[2] = grey;
                d[3] = uint8_t(alpha);
            }
        }
        records.push_back(RectRecord(l.code, uint32_t(pg), px, py, px + body.w, py + cellH, fontSpec.pageW, fontSpec.pageH,
                                     float(l.x0 - pad), l.advance + fontSpec.outline));
    }

    if (fontSpec.icons) {
        // The button icons on a page of their own, in colour.
        FontPage iconPage;
        iconPage.name = std::string(fontSpec.pagePrefix) + "icons.bmp";
        iconPage.image.w = fontSpec.pageW;
        iconPage.image.h = fontSpec.pageH;
        iconPage.image.rgba.assign(size_t(fontSpec.pageW) * size_t(fontSpec.pageH) * 4, 0);
        const uint32_t index = uint32_t(pages.size());
        Packer icons{fontSpec.pageW, fontSpec.pageH};
        for (uint32_t code = ICON_FIRST; code <= ICON_LAST; ++code) {
            const int w = int(std::lround(float(cellH) * IconAspect(code)));
            int px, py, pg;
            icons.Place(w, cellH, px, py, pg);
            PaintIcon(iconPage.image, tt, code, px, py, w, cellH);
            records.push_back(RectRecord(code, index | 0x80000000u, px, py, px + w, py + cellH, fontSpec.pageW,
                                         fontSpec.pageH, 0, float(w)));
        }
        pages.push_back(std::move(iconPage));
    }
    return FontChunk(fontSpec.name, pages, records);
}

} // namespace

const char* IconName(uint32_t code) {
    if (code < ICON_FIRST || code > ICON_LAST) return "";
    return ICON_NAMES[code - ICON_FIRST];
}

std::vector<uint32_t> FixtureCharacters() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 32; c <= 126; ++c) codes.push_back(c);
    for (uint32_t c = 161; c <= 255; ++c) {
        // No soft hyphen; and the letters the loader has to compose are left out.
        if (c == 0xAD || c == 0xE3 || c == 0xF5 || c == 0xC3 || c == 0xD5 || c == 0xCA || c == 0xD4) continue;
        codes.push_back(c);
    }
    return codes;
}

FontGlyphRecord RectRecord(uint32_t code, uint32_t texture, int x0, int y0, int x1, int y1, int pageW, int pageH,
                           float left, float advance) {
    FontGlyphRecord r;
    r.code = code;
    r.texture = texture;
    r.u0 = float(x0) / float(pageW);
    r.u1 = float(x1) / float(pageW);
    r.v0 = 1.0f - float(y1) / float(pageH);
    r.v1 = 1.0f - float(y0) / float(pageH);
    r.left = left;
    r.width = float(x1 - x0);
    r.right = left + r.width;
    r.advance = advance;
    return r;
}

void FontPalette(std::vector<uint8_t>& plte, std::vector<uint8_t>& trns) {
    plte.clear();
    trns.clear();
    for (int i = 0; i < 256; ++i) {
        const uint8_t grey = i ? RampGrey(i) : 0;
        plte.insert(plte.end(), {grey, grey, grey});
        trns.push_back(uint8_t(i));
    }
}

P3dChunk FontChunk(const std::string& name, const std::vector<FontPage>& pages,
                   const std::vector<FontGlyphRecord>& records) {
    P3dChunk font;
    font.id = CHUNK_FONT;
    AppendLE32(font.data, 0);  // version
    AppendPascal(font.data, name);
    float lineHeight = 0;
    for (const FontGlyphRecord& r : records) {
        if (r.code == 'A' && !pages.empty()) lineHeight = (r.v1 - r.v0) * float(pages.front().image.h);
    }
    AppendLEF(font.data, lineHeight);         // size
    AppendLEF(font.data, lineHeight);         // line height
    AppendLEF(font.data, lineHeight * 0.8f);  // baseline
    AppendLE32(font.data, uint32_t(pages.size()));

    P3dChunk table;
    table.id = CHUNK_GLYPHS;
    AppendLE32(table.data, uint32_t(records.size()));
    for (const FontGlyphRecord& r : records) {
        AppendLE32(table.data, r.texture);
        for (float f : {r.u0, r.v0, r.u1, r.v1, r.left, r.right, r.width, r.advance}) AppendLEF(table.data, f);
        AppendLE32(table.data, r.code);
    }
    font.children.push_back(std::move(table));

    std::vector<uint8_t> plte, trns;
    FontPalette(plte, trns);
    const std::vector<uint8_t> none;
    for (const FontPage& p : pages) {
        const std::vector<uint8_t> png = settings::language_font::EncodePng(p.image, p.palette ? plte : none,
                                                                            p.palette ? trns : none);
        font.children.push_back(TextureChunk(p.name, png, uint32_t(p.image.w), uint32_t(p.image.h)));
    }
    return font;
}

bool GameFonts(GameFontSet& fonts, std::string* error) {
    static std::once_flag once;
    static GameFontSet cached;
    static bool ok = false;
    static std::string failure;
    std::call_once(once, [] {
        const std::filesystem::path path = FindTrueType();
        if (path.empty()) {
            failure = "no TrueType font found for the fixture fonts (set VELKOR_FIXTURE_TTF)";
            return;
        }
        TrueType tt;
        tt.bytes = ReadAll(path);
        if (tt.bytes.empty() ||
            !stbtt_InitFont(&tt.info, tt.bytes.data(), stbtt_GetFontOffsetForIndex(tt.bytes.data(), 0))) {
            failure = "cannot read the TrueType font " + path.string();
            return;
        }
        cached.small = BuildFont(tt, {"Ombrax_Small", "ombrax_small_", 26.0f, 2.0f, 256, 256, false});
        cached.large = BuildFont(tt, {"Ombrax_Large", "ombrax_large_", 40.0f, 3.0f, 512, 256, true});
        ok = true;
    });
    if (!ok) {
        if (error) *error = failure;
        return false;
    }
    fonts = cached;
    return true;
}

bool GameFontChunkBytes(std::vector<uint8_t>& small, std::vector<uint8_t>& large, std::string* error) {
    GameFontSet fonts;
    if (!GameFonts(fonts, error)) return false;
    small = SerializeChunk(fonts.small);
    large = SerializeChunk(fonts.large);
    return true;
}

} // namespace testsupport
