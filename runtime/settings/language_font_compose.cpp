// Composition of missing accented letters for the game's bitmap fonts, and
// the rewriting of the font chunk that carries them.
#include "runtime/settings/language_font_compose.h"

#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace settings::language_font {

namespace {

using menu_art::Chunk;
using menu_art::Children;
using menu_art::LE32;

constexpr uint32_t CHUNK_TEXTURE = menu_art::CHUNK_TEXTURE;
constexpr uint32_t CHUNK_IMAGE = menu_art::CHUNK_IMAGE;
constexpr uint32_t CHUNK_IMAGE_DATA = menu_art::CHUNK_IMAGE_DATA;
constexpr uint32_t CHUNK_GLYPHS = menu_art::CHUNK_GLYPHS;
constexpr int INK = 24;    // alpha above this is ink
constexpr int BODY = 200;  // alpha above this is the letter's fill
constexpr size_t MAX_TEXTURES_FOR_NEW_PAGE = 32;

// The 40-byte glyph record, kept as read and written back.
struct Glyph {
    uint32_t texture = 0;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    float left = 0, right = 0, width = 0, advance = 0;
    uint32_t code = 0;
    bool Empty() const { return !(u1 > u0 && v1 > v0); }
};

struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

float LEF(const uint8_t* p) {
    const uint32_t bits = LE32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
    const size_t at = out.size();
    out.resize(at + 4);
    PutLE32(out.data() + at, v);
}
void AppendLEF(std::vector<uint8_t>& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    AppendLE32(out, bits);
}

Glyph ReadGlyph(const uint8_t* r) {
    Glyph g;
    g.texture = LE32(r);
    g.u0 = LEF(r + 4);
    g.v0 = LEF(r + 8);
    g.u1 = LEF(r + 12);
    g.v1 = LEF(r + 16);
    g.left = LEF(r + 20);
    g.right = LEF(r + 24);
    g.width = LEF(r + 28);
    g.advance = LEF(r + 32);
    g.code = LE32(r + 36);
    return g;
}

void AppendGlyph(std::vector<uint8_t>& out, const Glyph& g) {
    AppendLE32(out, g.texture);
    for (float f : {g.u0, g.v0, g.u1, g.v1, g.left, g.right, g.width, g.advance}) AppendLEF(out, f);
    AppendLE32(out, g.code);
}

// The UTF-8 form of one UTF-16 code unit (a lone surrogate in the
// three-byte form).
std::string Utf8(char16_t c) {
    std::string s;
    if (c < 0x80) {
        s.push_back(char(c));
    } else if (c < 0x800) {
        s.push_back(char(0xC0 | (c >> 6)));
        s.push_back(char(0x80 | (c & 0x3F)));
    } else {
        s.push_back(char(0xE0 | (c >> 12)));
        s.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        s.push_back(char(0x80 | (c & 0x3F)));
    }
    return s;
}

// round(v) clamped into [lo, hi] (not-a-number gives lo).
int RoundClamp(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (v >= hi) return hi;
    return std::clamp(int(std::lround(v)), lo, hi);
}

int Alpha(const Image& image, int x, int y) { return image.At(x, y)[3]; }

// ---- glyph cells ------------------------------------------------------------

// A decoded page, read in place in the decoder's buffer.
struct PageView {
    const uint8_t* rgba = nullptr;
    int w = 0;
    int h = 0;
    const uint8_t* At(int x, int y) const { return rgba + (size_t(y) * size_t(w) + size_t(x)) * 4; }
};

template <class Page>
Rect CellRect(const Glyph& g, const Page& page) {
    const int W = page.w, H = page.h;
    Rect r;
    r.x0 = RoundClamp(double(W) * g.u0, 0, W);
    r.x1 = RoundClamp(double(W) * g.u1, r.x0, W);
    r.y0 = RoundClamp(double(H) * (1.0 - double(g.v1)), 0, H);
    r.y1 = RoundClamp(double(H) * (1.0 - double(g.v0)), r.y0, H);
    return r;
}

template <class Page>
Image Crop(const Page& page, const Rect& r) {
    Image cell;
    cell.w = std::max(0, r.x1 - r.x0);
    cell.h = std::max(0, r.y1 - r.y0);
    cell.rgba.resize(size_t(cell.w) * size_t(cell.h) * 4);
    for (int y = 0; y < cell.h; ++y) {
        if (cell.w > 0) std::memcpy(cell.At(0, y), page.At(r.x0, r.y0 + y), size_t(cell.w) * 4);
    }
    return cell;
}

// A crop with the ink that bleeds in from the glyph above erased.
template <class Page>
Image CleanCrop(const Page& page, const Rect& r) {
    Image cell = Crop(page, r);
    if (r.y0 <= 0 || cell.w <= 0 || cell.h <= 0) return cell;
    auto ink = [](const uint8_t* p) { return p[3] > 16; };
    std::vector<int> stack;
    for (int j = 0; j < cell.w; ++j) {
        if (ink(cell.At(j, 0)) && ink(page.At(r.x0 + j, r.y0 - 1))) {
            std::memset(cell.At(j, 0), 0, 4);
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
                if (nx < 0 || ny < 0 || nx >= cell.w || ny >= cell.h || !ink(cell.At(nx, ny))) continue;
                std::memset(cell.At(nx, ny), 0, 4);
                stack.push_back(ny * cell.w + nx);
            }
        }
    }
    return cell;
}

int TopRow(const Image& cell, int threshold) {
    for (int y = 0; y < cell.h; ++y) {
        for (int x = 0; x < cell.w; ++x) {
            if (Alpha(cell, x, y) > threshold) return y;
        }
    }
    return cell.h;
}

float InkCenter(const Image& cell, int y0, int y1, int threshold) {
    int lo = -1, hi = -1;
    for (int y = std::max(y0, 0); y < std::min(y1, cell.h); ++y) {
        for (int x = 0; x < cell.w; ++x) {
            if (Alpha(cell, x, y) <= threshold) continue;
            if (lo < 0 || x < lo) lo = x;
            if (x > hi) hi = x;
        }
    }
    return lo < 0 ? -1.0f : float(lo + hi) * 0.5f;
}

// Breadth-first distances (8 neighbours) from the non-zero seeds over the
// cell's non-transparent pixels, up to `limit`; -1 where not reached.
// Only the pixels of `area` take part (seeds outside it are ignored; the
// rest of the result stays -1); by default the whole cell.
std::vector<int> Distances(const Image& cell, const std::vector<uint8_t>& seeds, int limit, Rect area) {
    std::vector<int> dist(seeds.size(), -1);
    const int W = cell.w, H = cell.h;
    if (W <= 0 || H <= 0 || seeds.size() != size_t(W) * size_t(H)) return dist;
    area.x0 = std::clamp(area.x0, 0, W);
    area.x1 = std::clamp(area.x1, area.x0, W);
    area.y0 = std::clamp(area.y0, 0, H);
    area.y1 = std::clamp(area.y1, area.y0, H);
    const int AW = area.x1 - area.x0, AH = area.y1 - area.y0;
    if (AW == 0 || AH == 0) return dist;
    // The search runs on a copy of the area with a closed one-pixel border,
    // so that neighbours need no bounds checks.
    const size_t PW = size_t(AW) + 2;
    std::vector<int> padded(PW * (size_t(AH) + 2), -2);  // -2: closed, -1: open and not reached
    std::vector<size_t> queue;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            const size_t i = size_t(y) * size_t(W) + size_t(x);
            const size_t p = (size_t(y - area.y0) + 1) * PW + size_t(x - area.x0) + 1;
            if (seeds[i]) {
                padded[p] = 0;
                queue.push_back(p);
            } else if (cell.At(x, y)[3] != 0) {
                padded[p] = -1;
            }
        }
    }
    const ptrdiff_t pw = ptrdiff_t(PW);
    const ptrdiff_t around[8] = {-pw - 1, -pw, -pw + 1, -1, 1, pw - 1, pw, pw + 1};
    for (size_t head = 0; head < queue.size(); ++head) {
        const size_t at = queue[head];
        const int d = padded[at];
        if (d >= limit) continue;
        for (ptrdiff_t step : around) {
            const size_t n = size_t(ptrdiff_t(at) + step);
            if (padded[n] != -1) continue;
            padded[n] = d + 1;
            queue.push_back(n);
        }
    }
    for (int y = area.y0; y < area.y1; ++y) {
        const int* row = padded.data() + (size_t(y - area.y0) + 1) * PW + 1;
        int* to = dist.data() + size_t(y) * size_t(W) + size_t(area.x0);
        for (int x = 0; x < AW; ++x) to[x] = row[x] < 0 ? -1 : row[x];
    }
    return dist;
}

std::vector<int> Distances(const Image& cell, const std::vector<uint8_t>& seeds, int limit) {
    return Distances(cell, seeds, limit, Rect{0, 0, cell.w, cell.h});
}

// Puts the accent that distinguishes `accent` from `accentBase` onto `base`.
bool Compose(const Image& base, const Image& accent, const Image& accentBase, Image& out) {
    const int H = base.h;
    if (accent.h != H || accentBase.h != H || base.w == 0 || accent.w == 0 || accentBase.w == 0) return false;
    const int top = TopRow(accentBase, INK);
    const int bodyTop = TopRow(accentBase, BODY);
    const int span = std::max(bodyTop - top, 1);
    if (bodyTop >= H) return false;
    const float aC = InkCenter(accent, bodyTop, H, INK);
    const float bC = InkCenter(accentBase, bodyTop, H, INK);
    if (aC < 0 || bC < 0) return false;
    const int shift = int(std::lround(aC - bC));

    // The accent's fill: fill pixels of `accent` above the letter body that
    // the plain letter does not have.
    const int W = accent.w;
    const size_t n = size_t(W) * size_t(H);
    std::vector<uint8_t> mask(n, 0);
    const int maskRows = std::min(bodyTop + span + 1, H);
    for (int y = 0; y < maskRows; ++y) {
        for (int x = 0; x < W; ++x) {
            const int a = Alpha(accent, x, y);
            const int bx = x - shift;
            const int ref = (bx >= 0 && bx < accentBase.w) ? Alpha(accentBase, bx, y) + INK : INK;
            mask[size_t(y) * size_t(W) + size_t(x)] = (a > BODY && a > ref) ? 1 : 0;
        }
    }

    // Keep the large 8-connected parts of the mask.
    std::vector<int> label(n, -1);
    std::vector<size_t> sizes;
    for (size_t i = 0; i < n; ++i) {
        if (!mask[i] || label[i] >= 0) continue;
        const int id = int(sizes.size());
        size_t count = 0;
        std::vector<size_t> stack{i};
        label[i] = id;
        while (!stack.empty()) {
            const size_t at = stack.back();
            stack.pop_back();
            ++count;
            const int cx = int(at % size_t(W)), cy = int(at / size_t(W));
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = cx + dx, ny = cy + dy;
                    if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
                    const size_t m = size_t(ny) * size_t(W) + size_t(nx);
                    if (mask[m] && label[m] < 0) {
                        label[m] = id;
                        stack.push_back(m);
                    }
                }
            }
        }
        sizes.push_back(count);
    }
    if (sizes.empty()) return false;
    const size_t largest = *std::max_element(sizes.begin(), sizes.end());
    for (size_t i = 0; i < n; ++i) {
        if (mask[i] && sizes[size_t(label[i])] * 4 < largest) mask[i] = 0;
    }

    // The letter's fill, and which pixels lie nearer the accent than the body.
    std::vector<uint8_t> body(n, 0);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * size_t(W) + size_t(x);
            body[i] = (!mask[i] && Alpha(accent, x, y) > BODY) ? 1 : 0;
        }
    }
    const int limit = span + 2;
    const std::vector<int> dA = Distances(accent, mask, limit);
    // dB matters only where dA was reached, and a path of at most `limit`
    // steps to such a pixel stays within `limit` of it: the search for dB
    // covers the box around those pixels widened by `limit`, no more.
    Rect near{W, H, 0, 0};
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (dA[size_t(y) * size_t(W) + size_t(x)] < 0) continue;
            near.x0 = std::min(near.x0, x);
            near.y0 = std::min(near.y0, y);
            near.x1 = std::max(near.x1, x + 1);
            near.y1 = std::max(near.y1, y + 1);
        }
    }
    const std::vector<int> dB =
        Distances(accent, body, limit, Rect{near.x0 - limit, near.y0 - limit, near.x1 + limit, near.y1 + limit});

    std::vector<uint8_t> extract(n, 0);
    int minY = H, minX = W, maxX = -1;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * size_t(W) + size_t(x);
            if (dA[i] < 0 || (dB[i] != -1 && dB[i] < dA[i])) continue;
            extract[i] = uint8_t(Alpha(accent, x, y));
            minY = std::min(minY, y);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
        }
    }
    const float cB = InkCenter(base, 0, H, INK);
    if (maxX < 0 || cB < 0) return false;

    const int dx = int(std::lround(cB - float(minX + maxX) * 0.5f));
    const int dy = std::max(TopRow(base, INK) - top, -minY);
    out = base;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const uint8_t e = extract[size_t(y) * size_t(W) + size_t(x)];
            const int tx = x + dx, ty = y + dy;
            if (e == 0 || tx < 0 || ty < 0 || tx >= out.w || ty >= out.h) continue;
            if (e > out.At(tx, ty)[3]) std::memcpy(out.At(tx, ty), accent.At(x, y), 4);
        }
    }
    return true;
}

// ---- texture chunks ---------------------------------------------------------

bool TexturePng(const uint8_t* data, const Chunk& texture, const uint8_t*& png, size_t& size) {
    for (const Chunk& image : Children(data, texture.offset + texture.header, texture.offset + texture.size)) {
        if (image.id != CHUNK_IMAGE) continue;
        for (const Chunk& bits : Children(data, image.offset + image.header, image.offset + image.size)) {
            if (bits.id != CHUNK_IMAGE_DATA || bits.header < 16) continue;
            size = LE32(data + bits.offset + 12);
            png = data + bits.offset + 16;
            return uint64_t(bits.size) >= uint64_t(size) + 16;
        }
    }
    return false;
}

// Overwrites one character of a length-prefixed name so that a cloned texture
// gets a distinct name of the same length.
void MarkName(uint8_t* p, size_t limit, char mark) {
    if (limit == 0) return;
    const size_t n = std::min<size_t>(p[0], limit - 1);
    if (n == 0) return;
    std::string lower(reinterpret_cast<const char*>(p + 1), n);
    lower = menu_art::Lower(lower);
    const size_t i = lower.rfind(".bmp");
    if (i != std::string::npos && i > 0) {
        p[1 + i - 1] = uint8_t(mark);
    } else {
        p[n] = uint8_t(mark);
    }
}

void CopyChunk(const uint8_t* data, const Chunk& c, std::vector<uint8_t>& out) {
    out.insert(out.end(), data + c.offset, data + c.offset + c.size);
}

// Copies the own data of a texture or image chunk, its name marked when
// `mark` is not 0; returns where it starts in `out`.
size_t CopyOwnData(const uint8_t* data, const Chunk& c, char mark, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    out.insert(out.end(), data + c.offset, data + c.offset + c.header);
    if (mark != 0 && c.header > 12) MarkName(out.data() + start + 12, c.header - 12, mark);
    return start;
}

// Appends a copy of a texture whose image-data chunks all carry `png`
// instead, its names marked when `mark` is not 0.
void CloneTexture(const uint8_t* data, const Chunk& texture, const std::vector<uint8_t>& png, char mark,
                  std::vector<uint8_t>& out) {
    const size_t textureStart = CopyOwnData(data, texture, mark, out);
    for (const Chunk& child : Children(data, texture.offset + texture.header, texture.offset + texture.size)) {
        if (child.id != CHUNK_IMAGE) {
            CopyChunk(data, child, out);
            continue;
        }
        const size_t start = CopyOwnData(data, child, mark, out);
        for (const Chunk& grand : Children(data, child.offset + child.header, child.offset + child.size)) {
            if (grand.id != CHUNK_IMAGE_DATA) {
                CopyChunk(data, grand, out);
                continue;
            }
            AppendLE32(out, CHUNK_IMAGE_DATA);
            AppendLE32(out, uint32_t(png.size() + 16));
            AppendLE32(out, uint32_t(png.size() + 16));
            AppendLE32(out, uint32_t(png.size()));
            out.insert(out.end(), png.begin(), png.end());
        }
        PutLE32(out.data() + start + 8, uint32_t(out.size() - start));
    }
    PutLE32(out.data() + textureStart + 8, uint32_t(out.size() - textureStart));
}

// A decoded texture page with the palette of its PNG.
struct Page {
    bool tried = false;
    bool ok = false;
    const uint8_t* png = nullptr;  // the PNG bytes it was decoded from
    size_t pngSize = 0;
    PngPixels pixels;  // the decoder's buffer
    PageView image;    // its pixels
    std::vector<uint8_t> plte;
    std::vector<uint8_t> trns;
};

} // namespace

bool ParseRecipe(const std::u16string& text, Recipe& recipe) {
    std::u16string s;
    for (char16_t c : text) {
        if (c != u' ' && c != u'\t') s.push_back(c);
    }
    if (s.size() != 7 && s.size() != 9) return false;
    if (s[1] != u'=' || s[3] != u'+' || s[5] != u'-') return false;
    if (s.size() == 9 && s[7] != u'@') return false;
    recipe.target = s[0];
    recipe.base = s[2];
    recipe.accent = s[4];
    recipe.accentBase = s[6];
    recipe.donor = s.size() == 9 ? s[8] : char16_t(0);
    return true;
}

int ComposeFont(const uint8_t* data, size_t size, const std::vector<Recipe>& recipes, std::vector<uint8_t>& out,
                std::string& log) {
    return ComposeFont(data, size, recipes, out, log, nullptr);
}

int ComposeFont(const uint8_t* data, size_t size, const std::vector<Recipe>& recipes, std::vector<uint8_t>& out,
                std::string& log, KnownPages* known) {
    const size_t start = out.size();
    std::vector<const Chunk*> textures;
    std::vector<Page> pages;
    // A decoded page's pixels, for the copy of `texture` written at `at` in
    // `out`: kept when the PNG a reader of that copy decodes is the one the
    // page came from.
    auto rememberCopy = [&](size_t at, const Chunk& texture, Page& page) {
        const uint8_t* png = nullptr;
        size_t pngSize = 0;
        if (!known || !page.ok || !menu_art::OwnerPng(data, texture, png, pngSize)) return;
        if (png != page.png || pngSize != page.pngSize) return;
        KnownPages::Pixels& pixels = known->byOffset[at - start + size_t(png - data) - texture.offset];
        pixels = {pngSize, page.image.w, page.image.h, std::move(page.pixels), {}};
        page.ok = false;  // its pixels have moved
    };
    // A texture written at `at` with a new PNG whose decoded pixels are known.
    auto rememberClone = [&](size_t at, const std::vector<uint8_t>& newPng, int w, int h, EncodedPixels& drawn) {
        if (!known || !drawn.known) return;
        const Chunk clone{LE32(out.data() + at), at, LE32(out.data() + at + 4), LE32(out.data() + at + 8)};
        const uint8_t* png = nullptr;
        size_t pngSize = 0;
        if (!menu_art::OwnerPng(out.data(), clone, png, pngSize) || pngSize != newPng.size()) return;
        known->byOffset[size_t(png - out.data()) - start] = {pngSize, w, h, {}, std::move(drawn)};
    };
    auto unchanged = [&]() {
        if (size > 0) out.insert(out.end(), data, data + size);
        for (size_t k = 0; k < pages.size(); ++k) rememberCopy(start + textures[k]->offset, *textures[k], pages[k]);
        return 0;
    };
    // 1. The chunk's own data.
    if (size < 12) return unchanged();
    const size_t H = LE32(data + 4);
    if (H < 16 || size < H) return unchanged();
    const std::string name = H >= 18 ? menu_art::Pascal(data + 16, H - 17) : std::string();

    // 2. Glyph table and texture pages; their count is the last word of the
    // font's own data.
    const std::vector<Chunk> children = Children(data, H, size);
    const Chunk* table = nullptr;
    for (const Chunk& c : children) {
        if (c.id == CHUNK_GLYPHS) table = &c;
        if (c.id == CHUNK_TEXTURE) textures.push_back(&c);
    }
    if (!table || textures.empty() || LE32(data + H - 4) != textures.size() || table->header < 16) {
        return unchanged();
    }

    // 3. The records by code; a later duplicate replaces the earlier one.
    const uint64_t count = LE32(data + table->offset + 12);
    if (uint64_t(table->size) < 16 + 40 * count) return unchanged();
    std::map<uint32_t, Glyph> glyphs;
    for (uint64_t i = 0; i < count; ++i) {
        const Glyph g = ReadGlyph(data + table->offset + 16 + 40 * i);
        glyphs[g.code] = g;
    }

    // 4. Pages decode on first need.
    const size_t T = textures.size();
    pages.resize(T);
    auto page = [&](uint32_t index) -> Page* {
        if (index >= T) return nullptr;
        Page& p = pages[index];
        if (!p.tried) {
            p.tried = true;
            const uint8_t* png = nullptr;
            size_t pngSize = 0;
            if (TexturePng(data, *textures[index], png, pngSize) &&
                (p.pixels = DecodePngBuffer(png, pngSize, p.image.w, p.image.h)) != nullptr) {
                p.image.rgba = p.pixels.get();
                p.ok = true;
                p.png = png;
                p.pngSize = pngSize;
                p.plte = PngChunk(png, pngSize, "PLTE");
                p.trns = PngChunk(png, pngSize, "tRNS");
            }
        }
        return p.ok ? &p : nullptr;
    };
    auto usable = [&](char16_t code, const Glyph*& g, Page*& p) {
        auto found = glyphs.find(code);
        if (found == glyphs.end() || found->second.Empty()) return false;
        g = &found->second;
        p = page(g->texture);
        return p != nullptr;
    };

    // 5. Compose each missing letter.
    struct Composed {
        Recipe recipe;
        Glyph base;
        Image cell;
    };
    std::vector<Composed> composed;
    std::string skipped;
    for (const Recipe& recipe : recipes) {
        auto target = glyphs.find(recipe.target);
        if (target != glyphs.end() && !target->second.Empty()) continue;
        const Glyph *base = nullptr, *accent = nullptr, *accentBase = nullptr;
        Page *basePage = nullptr, *accentPage = nullptr, *accentBasePage = nullptr;
        Image cell;
        if (usable(recipe.base, base, basePage) && usable(recipe.accent, accent, accentPage) &&
            usable(recipe.accentBase, accentBase, accentBasePage) &&
            Compose(CleanCrop(basePage->image, CellRect(*base, basePage->image)),
                    CleanCrop(accentPage->image, CellRect(*accent, accentPage->image)),
                    CleanCrop(accentBasePage->image, CellRect(*accentBase, accentBasePage->image)), cell)) {
            composed.push_back({recipe, *base, std::move(cell)});
        } else {
            skipped += Utf8(recipe.target);
        }
    }

    // 6. Nothing composed.
    if (composed.empty()) {
        if (!skipped.empty()) log += name + ": cannot compose " + skipped + "; ";
        return unchanged();
    }

    // 7. Placement: a new page while the font has few, else the donor cells.
    std::string names, where;
    int placed = 0;
    const bool newPage = T < MAX_TEXTURES_FOR_NEW_PAGE;
    uint32_t templateIndex = 0;
    std::vector<uint8_t> newPng;
    EncodedPixels newPixels;
    int newW = 0, newH = 0;
    std::map<uint32_t, Image> edited;
    if (newPage) {
        templateIndex = composed.front().base.texture;
        const Page& tpl = *page(templateIndex);
        // The blank sheet with the cells on it is encoded without being built.
        std::vector<SheetPiece> pieces;
        const int W = tpl.image.w, PH = tpl.image.h;
        int x = 1, y = 1, r = 0;
        for (const Composed& c : composed) {
            const int w = c.cell.w, h = c.cell.h;
            if (x + w >= W) {
                x = 1;
                y = y + r + 1;
                r = 0;
            }
            if (y + h >= PH || w + 2 > W) {
                skipped += Utf8(c.recipe.target);
                continue;
            }
            pieces.push_back({x, y, &c.cell});
            Glyph g = c.base;
            g.texture = uint32_t(T);
            g.u0 = float(x) / float(W);
            g.v0 = 1.0f - float(y + h) / float(PH);
            g.u1 = float(x + w) / float(W);
            g.v1 = 1.0f - float(y) / float(PH);
            g.width = float(w);
            g.code = c.recipe.target;
            glyphs[g.code] = g;
            names += Utf8(c.recipe.target);
            ++placed;
            x = x + w + 1;
            r = std::max(r, h);
        }
        where = "on new page " + std::to_string(T);
        if (placed > 0) newPng = EncodeSheetPng(W, PH, pieces, tpl.plte, tpl.trns, known ? &newPixels : nullptr);
        newW = W;
        newH = PH;
    } else {
        std::string donors;
        for (const Composed& c : composed) {
            const Glyph* donor = nullptr;
            Page* donorPage = nullptr;
            if (c.recipe.donor == 0 || !usable(c.recipe.donor, donor, donorPage)) {
                skipped += Utf8(c.recipe.target);
                continue;
            }
            auto slot = edited.find(donor->texture);
            if (slot == edited.end()) {
                const PageView& from = donorPage->image;
                Image copy;
                copy.w = from.w;
                copy.h = from.h;
                copy.rgba.assign(from.rgba, from.rgba + size_t(from.w) * size_t(from.h) * 4);
                slot = edited.emplace(donor->texture, std::move(copy)).first;
            }
            Image& sheet = slot->second;
            const Rect rect = CellRect(*donor, sheet);
            const int dw = rect.x1 - rect.x0;
            for (int y = rect.y0; y < rect.y1; ++y) {
                if (dw > 0) std::memset(sheet.At(rect.x0, y), 0, size_t(dw) * 4);
            }
            const int w = c.cell.w, h = c.cell.h;
            const int off = (dw - w) / 2;
            for (int row = 0; row < h && row < rect.y1 - rect.y0; ++row) {
                for (int col = std::max(-off, 0); col < w && col < dw - off; ++col) {
                    std::memcpy(sheet.At(rect.x0 + off + col, rect.y0 + row), c.cell.At(col, row), 4);
                }
            }
            Glyph g = *donor;
            g.left = c.base.left;
            g.right = c.base.right;
            g.advance = c.base.advance;
            g.width = float(dw);
            g.code = c.recipe.target;
            glyphs[g.code] = g;
            names += Utf8(c.recipe.target);
            donors += Utf8(c.recipe.donor);
            ++placed;
        }
        where = "in the cells of " + donors;
    }

    // 8. Nothing placed.
    if (placed == 0) {
        log += name + ": cannot compose " + skipped + "; ";
        return unchanged();
    }

    // 9. The rewritten chunk.
    struct Encoded {
        std::vector<uint8_t> png;
        EncodedPixels pixels;
        int w = 0, h = 0;
    };
    std::map<uint32_t, Encoded> editedPng;
    for (const auto& [index, sheet] : edited) {
        Encoded& e = editedPng[index];
        e.png = EncodePng(sheet, pages[index].plte, pages[index].trns, known ? &e.pixels : nullptr);
        e.w = sheet.w;
        e.h = sheet.h;
    }
    // Room for the usual chunk at once: the input, the new page (one image
    // chunk with one PNG) and the edited pages' PNGs.
    size_t room = size + 40 * glyphs.size() + 64;
    if (newPage) room += textures[templateIndex]->size + newPng.size();
    for (const auto& entry : editedPng) room += entry.second.png.size();
    out.reserve(out.size() + room);
    out.insert(out.end(), data, data + H);
    if (newPage) PutLE32(out.data() + start + H - 4, uint32_t(T + 1));
    const Chunk* lastTexture = textures.back();
    size_t textureIndex = 0;
    for (const Chunk& c : children) {
        const size_t at = out.size();
        if (&c == table) {
            const uint32_t bytes = uint32_t(16 + 40 * glyphs.size());
            AppendLE32(out, CHUNK_GLYPHS);
            AppendLE32(out, bytes);
            AppendLE32(out, bytes);
            AppendLE32(out, uint32_t(glyphs.size()));
            for (const auto& entry : glyphs) AppendGlyph(out, entry.second);
        } else if (c.id == CHUNK_TEXTURE) {
            auto png = editedPng.find(uint32_t(textureIndex));
            if (png != editedPng.end()) {
                CloneTexture(data, c, png->second.png, 0, out);
                rememberClone(at, png->second.png, png->second.w, png->second.h, png->second.pixels);
            } else {
                CopyChunk(data, c, out);
                rememberCopy(at, c, pages[textureIndex]);
            }
            ++textureIndex;
        } else {
            CopyChunk(data, c, out);
        }
        if (newPage && &c == lastTexture) {
            const size_t cloneAt = out.size();
            CloneTexture(data, *textures[templateIndex], newPng, 'P', out);
            rememberClone(cloneAt, newPng, newW, newH, newPixels);
        }
    }
    PutLE32(out.data() + start + 8, uint32_t(out.size() - start));

    // 10. The summary.
    log += name + ": " + names + " composed " + where + "; ";
    if (!skipped.empty()) log += name + ": cannot compose " + skipped + "; ";
    return placed;
}

} // namespace settings::language_font
