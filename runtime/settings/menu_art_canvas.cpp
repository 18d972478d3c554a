// The screen's drawing surface (premultiplied pixels, integer blending) and
// the cached separable image scaler.
#include "runtime/platform/large_buffer.h"
#include "runtime/settings/menu_art_fonts_internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <tuple>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace settings::menu_art {

namespace {

// A scaled image larger than this (in either direction, or in pixels) is
// refused and comes back empty instead of exhausting memory.
constexpr int64_t MAX_SCALED_SIDE = 16384;
constexpr int64_t MAX_SCALED_PIXELS = int64_t(1) << 26;

inline uint32_t Red(uint32_t p) { return p & 0xFF; }
inline uint32_t Green(uint32_t p) { return (p >> 8) & 0xFF; }
inline uint32_t Blue(uint32_t p) { return (p >> 16) & 0xFF; }
inline uint32_t Alpha(uint32_t p) { return p >> 24; }
inline uint32_t Cap(uint32_t v) { return v > 255 ? 255 : v; }
inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return r | g << 8 | b << 16 | a << 24;
}

// "Source over" with premultiplied source components r, g, b and alpha a:
// the destination term is rounded to nearest, the sum capped at 255.
inline uint32_t Over(uint32_t d, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    const uint32_t k = 255 - a;
    return Pack(Cap(r + (Red(d) * k + 127) / 255), Cap(g + (Green(d) * k + 127) / 255),
                Cap(b + (Blue(d) * k + 127) / 255), Cap(a + (Alpha(d) * k + 127) / 255));
}

// Nearest integer, halves away from zero.
inline int RoundHalfAway(float v) { return static_cast<int>(std::lround(v)); }

// The span [first, last) of source indices whose destination x + i lies in
// [0, limit); computed in 64 bits so that no position can overflow.
inline void ClipSpan(int64_t x, int64_t length, int64_t limit, int64_t& first, int64_t& last) {
    first = std::max<int64_t>(0, -x);
    last = std::min<int64_t>(length, limit - x);
}

// The premultiplied colour of every glyph alpha for one text style, with bit
// 32 set where the pixel leaves the destination alone. A line of text draws
// many glyphs in one style, so the last table of each thread is kept.
const uint64_t* GlyphTable(const TextStyle& style) {
    struct Cached {
        bool valid = false;
        TextStyle style;
        uint64_t table[256];
    };
    thread_local Cached cached;
    auto same = [](const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; };
    if (cached.valid && same(cached.style.fill, style.fill) && same(cached.style.outline, style.outline) &&
        std::memcmp(&cached.style.opacity, &style.opacity, sizeof(float)) == 0) {
        return cached.table;
    }
    // An opacity outside 0-1 (or not a number) would push the result past
    // what a pixel can hold; it is clamped.
    const float opacity = style.opacity >= 0.0f ? std::min(style.opacity, 1.0f) : 0.0f;
    const Color& o = style.outline;
    const Color& f = style.fill;
    uint64_t* table = cached.table;
    table[0] = uint64_t(1) << 32;
    for (int alpha = 1; alpha < 256; ++alpha) {
        const float t = std::clamp((float(alpha) - 105.0f) / 145.0f, 0.0f, 1.0f);
        const float coverage = std::min(float(alpha) / 105.0f, 1.0f);
        const float D = coverage * (float(o.a) + (float(f.a) - float(o.a)) * t) / 255.0f * opacity;
        auto colour = [&](uint8_t oc, uint8_t fc) {
            return uint32_t(std::clamp(RoundHalfAway((float(oc) + (float(fc) - float(oc)) * t) * D), 0, 255));
        };
        const uint32_t a = uint32_t(std::clamp(RoundHalfAway(D * 255.0f), 0, 255));
        const uint32_t r = colour(o.r, f.r), g = colour(o.g, f.g), b = colour(o.b, f.b);
        table[alpha] = (a | r | g | b) == 0 ? uint64_t(1) << 32 : Pack(r, g, b, a);
    }
    cached.style = style;
    cached.valid = true;
    return table;
}

using CacheKey = std::tuple<const Image*, int, int, int, int, int, int, bool, bool>;
std::map<CacheKey, Image> g_cache;

} // namespace

// ---- Canvas -----------------------------------------------------------------

void Canvas::Reset(int width, int height) {
    w_ = std::max(0, width);
    h_ = std::max(0, height);
    px_.assign(size_t(w_) * size_t(h_), 0u);
}

void Canvas::Fill(int x0, int y0, int x1, int y1, Color color) {
    FillGradient(x0, y0, x1, y1, color, color);
}

void Canvas::FillGradient(int x0, int y0, int x1, int y1, Color top, Color bottom) {
    const int rowBegin = std::max(y0, 0);
    const int rowEnd = std::min(h_, y1);
    const int colBegin = std::max(x0, 0);
    const int colEnd = std::min(w_, x1);
    if (rowBegin >= rowEnd || colBegin >= colEnd) return;
    const int64_t span = int64_t(y1) - int64_t(y0);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const float t = span < 2 ? 0.0f : float(double(int64_t(y) - y0) / double(span - 1));
        auto mix = [t](uint8_t a, uint8_t b) {
            return uint32_t(RoundHalfAway(float(a) + (float(b) - float(a)) * t));
        };
        const uint32_t r = mix(top.r, bottom.r);
        const uint32_t g = mix(top.g, bottom.g);
        const uint32_t b = mix(top.b, bottom.b);
        const uint32_t a = mix(top.a, bottom.a);
        if (a == 0) continue;
        const uint32_t pr = r * a / 255, pg = g * a / 255, pb = b * a / 255;
        uint32_t* row = px_.data() + size_t(y) * size_t(w_);
        for (int x = colBegin; x < colEnd; ++x) row[x] = Over(row[x], pr, pg, pb, a);
    }
}

void Canvas::Blit(const Image& image, int x, int y, Color tint, int clipX1) {
    if (image.w <= 0 || image.h <= 0 || image.px.size() < size_t(image.w) * size_t(image.h)) return;
    int64_t rowFirst, rowLast, colFirst, colLast;
    ClipSpan(y, image.h, h_, rowFirst, rowLast);
    ClipSpan(x, image.w, std::min<int64_t>(w_, clipX1), colFirst, colLast);
    if (rowFirst >= rowLast || colFirst >= colLast) return;
    for (int64_t row = rowFirst; row < rowLast; ++row) {
        const uint32_t* src = image.px.data() + size_t(row) * size_t(image.w);
        // Canvas row y + row, indexed by canvas column x + col (x may be negative).
        uint32_t* line = px_.data() + size_t(y + row) * size_t(w_);
        for (int64_t col = colFirst; col < colLast; ++col) {
            const uint32_t s = src[col];
            const uint32_t sa = Alpha(s);
            if (sa == 0) continue;
            const uint32_t r = (Red(s) * tint.r / 255) * tint.a / 255;
            const uint32_t g = (Green(s) * tint.g / 255) * tint.a / 255;
            const uint32_t b = (Blue(s) * tint.b / 255) * tint.a / 255;
            const uint32_t A = sa * tint.a;
            if (A < 255 && r == 0 && g == 0 && b == 0) continue;
            line[x + col] = Over(line[x + col], r, g, b, A / 255);
        }
    }
}

void Canvas::BlitGlow(const Image& image, int x, int y, Color tint) {
    if (image.w <= 0 || image.h <= 0 || image.px.size() < size_t(image.w) * size_t(image.h)) return;
    int64_t rowFirst, rowLast, colFirst, colLast;
    ClipSpan(y, image.h, h_, rowFirst, rowLast);
    ClipSpan(x, image.w, w_, colFirst, colLast);
    if (rowFirst >= rowLast || colFirst >= colLast) return;
    for (int64_t row = rowFirst; row < rowLast; ++row) {
        const uint32_t* src = image.px.data() + size_t(row) * size_t(image.w);
        // Canvas row y + row, indexed by canvas column x + col (x may be negative).
        uint32_t* line = px_.data() + size_t(y + row) * size_t(w_);
        for (int64_t col = colFirst; col < colLast; ++col) {
            const uint32_t s = src[col];
            const uint32_t L = ((Red(s) + Green(s) + Blue(s)) / 3) * tint.a;
            if (L < 255) continue;
            const uint32_t a = L / 255;
            line[x + col] = Over(line[x + col], a * tint.r / 255, a * tint.g / 255, a * tint.b / 255, a);
        }
    }
}

void Canvas::BlitGlyph(const Image& glyph, int x, int y, const TextStyle& style) {
    if (glyph.w <= 0 || glyph.h <= 0 || glyph.px.size() < size_t(glyph.w) * size_t(glyph.h)) return;
    int64_t rowFirst, rowLast, colFirst, colLast;
    ClipSpan(y, glyph.h, h_, rowFirst, rowLast);
    ClipSpan(x, glyph.w, w_, colFirst, colLast);
    if (rowFirst >= rowLast || colFirst >= colLast) return;

    const uint64_t* table = GlyphTable(style);
    for (int64_t row = rowFirst; row < rowLast; ++row) {
        const uint32_t* src = glyph.px.data() + size_t(row) * size_t(glyph.w);
        // Canvas row y + row, indexed by canvas column x + col (x may be negative).
        uint32_t* line = px_.data() + size_t(y + row) * size_t(w_);
        for (int64_t col = colFirst; col < colLast; ++col) {
            const uint64_t e = table[Alpha(src[col])];
            if (e >> 32) continue;
            const uint32_t p = uint32_t(e);
            line[x + col] = Over(line[x + col], Red(p), Green(p), Blue(p), Alpha(p));
        }
    }
}

void Canvas::Export(std::vector<uint32_t>& out) const {
    out.resize(px_.size());
    for (size_t i = 0; i < px_.size(); ++i) {
        const uint32_t p = px_[i];
        const uint32_t A = Alpha(p);
        if (A == 0) {
            out[i] = 0;
            continue;
        }
        auto un = [A](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + A / 2) / A); };
        out[i] = Pack(un(Red(p)), un(Green(p)), un(Blue(p)), A);
    }
}

// ---- scaling ----------------------------------------------------------------

std::vector<std::vector<std::pair<int, float>>> Weights1D(int sn, int dn) {
    std::vector<std::vector<std::pair<int, float>>> lists(size_t(std::max(dn, 0)));
    if (sn <= 0 || dn <= 0) return lists;
    const float scale = float(sn) / float(dn);
    for (int i = 0; i < dn; ++i) {
        auto& taps = lists[size_t(i)];
        if (sn < dn) {
            const float c = (float(i) + 0.5f) * scale - 0.5f;
            const float jf = std::floor(c);
            const int j = int(jf);
            const float f = c - jf;
            taps.emplace_back(std::clamp(j, 0, sn - 1), 1.0f - f);
            taps.emplace_back(std::clamp(j + 1, 0, sn - 1), f);
        } else {
            const float a = float(i) * scale;
            const float b = float(i + 1) * scale;
            const int last = std::min(int(std::ceil(b)), sn);
            for (int j = int(std::floor(a)); j < last; ++j) {
                const float overlap = std::min(float(j + 1), b) - std::max(float(j), a);
                if (overlap > 0) taps.emplace_back(j, overlap / scale);
            }
        }
    }
    return lists;
}

namespace {

// Tap lists flattened for the inner loops.
struct Taps {
    std::vector<int> begin;  // dn + 1 offsets into index/weight
    std::vector<int> index;
    std::vector<float> weight;
    int span = 0;  // the most source indices one destination index reaches (last - first + 1)
};

Taps Flatten(const std::vector<std::vector<std::pair<int, float>>>& lists) {
    Taps taps;
    taps.begin.reserve(lists.size() + 1);
    taps.begin.push_back(0);
    for (const auto& list : lists) {
        int lo = 0, hi = -1;
        for (const auto& [index, weight] : list) {
            if (hi < lo) {
                lo = hi = index;
            } else {
                lo = std::min(lo, index);
                hi = std::max(hi, index);
            }
            taps.index.push_back(index);
            taps.weight.push_back(weight);
        }
        taps.span = std::max(taps.span, hi - lo + 1);
        taps.begin.push_back(int(taps.index.size()));
    }
    return taps;
}

// Four channels of one pixel in floats. Every operation is the plain IEEE
// single-precision one, lane by lane, so the vector and the scalar forms give
// the same bits.
#if defined(__SSE2__)
struct Quad {
    __m128 v;
};
inline Quad Zero() { return {_mm_setzero_ps()}; }
inline Quad Load(const float* p) { return {_mm_loadu_ps(p)}; }
inline void Store(float* p, Quad q) { _mm_storeu_ps(p, q.v); }
inline Quad MulAdd(Quad acc, float w, Quad p) { return {_mm_add_ps(acc.v, _mm_mul_ps(_mm_set1_ps(w), p.v))}; }
inline Quad Unpack(uint32_t p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(int(p));
    return {_mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero))};
}
// A = round(clamp(a, 0, 255)), each colour round(clamp(c, 0, A)), halves
// away from zero (the sums are never negative, so +0.5 and truncation).
inline uint32_t PackRounded(Quad q) {
    const __m128 held = _mm_max_ps(q.v, _mm_setzero_ps());
    const __m128 alpha = _mm_min_ps(_mm_shuffle_ps(held, held, _MM_SHUFFLE(3, 3, 3, 3)), _mm_set1_ps(255.0f));
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 A = _mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(alpha, half)));
    const __m128i rounded = _mm_cvttps_epi32(_mm_add_ps(_mm_min_ps(held, A), half));
    const __m128i words = _mm_packs_epi32(rounded, rounded);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}
#else
struct Quad {
    float v[4];
};
inline Quad Zero() { return {{0.0f, 0.0f, 0.0f, 0.0f}}; }
inline Quad Load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
inline void Store(float* p, Quad q) { std::memcpy(p, q.v, sizeof q.v); }
inline Quad MulAdd(Quad acc, float w, Quad p) {
    for (int c = 0; c < 4; ++c) acc.v[c] += w * p.v[c];
    return acc;
}
inline Quad Unpack(uint32_t p) { return {{float(Red(p)), float(Green(p)), float(Blue(p)), float(Alpha(p))}}; }
// round(v) (halves away from zero) held in [0, hi]; sums of non-negative
// weights are never negative, so adding 0.5 and truncating rounds them.
inline uint32_t RoundClampByte(float v, uint32_t hi) {
    const float held = std::min(std::max(v, 0.0f), float(hi));
    return uint32_t(held + 0.5f);
}
inline uint32_t PackRounded(Quad q) {
    const uint32_t A = RoundClampByte(q.v[3], 255);
    return Pack(RoundClampByte(q.v[0], A), RoundClampByte(q.v[1], A), RoundClampByte(q.v[2], A), A);
}
#endif

// One row of the horizontal pass: dw entries of four floats, each the sum of
// its taps over the source row (unpacked to floats in `line` first).
void HorizontalRow(const uint32_t* src, int width, const Taps& cols, int dw, float* line, float* dst) {
    for (int i = 0; i < width; ++i) Store(line + 4 * i, Unpack(src[i]));
    const int* begin = cols.begin.data();
    const int* index = cols.index.data();
    const float* weight = cols.weight.data();
    for (int j = 0; j < dw; ++j) {
        Quad acc = Zero();
        for (int t = begin[j]; t < begin[j + 1]; ++t) acc = MulAdd(acc, weight[t], Load(line + 4 * index[t]));
        Store(dst + 4 * size_t(j), acc);
    }
}

} // namespace

// The horizontal pass runs on demand, one source row at a time, into a ring of
// rows: a destination row reaches at most `rows.span` consecutive source rows,
// so a ring of that many slots (slot = source row mod size) holds all of them
// at once, and each source row is usually made once. The vertical pass sums
// each destination pixel over its taps in tap order and packs it directly.
Image Resample(const Image& image, int sx, int sy, int sw, int sh, int dw, int dh, bool flipX,
               bool flipY) {
    Image out;
    if (image.w <= 0 || image.h <= 0 || image.px.size() < size_t(image.w) * size_t(image.h)) return out;
    const int x = std::clamp(sx, 0, image.w);
    const int width = std::clamp(sw, 0, image.w - x);
    const int y = std::clamp(sy, 0, image.h);
    const int height = std::clamp(sh, 0, image.h - y);
    if (dw <= 0 || dh <= 0 || width <= 0 || height <= 0) return out;
    if (dw > MAX_SCALED_SIDE || dh > MAX_SCALED_SIDE || int64_t(dw) * dh > MAX_SCALED_PIXELS ||
        int64_t(height) * dw > MAX_SCALED_PIXELS) {
        return out;
    }

    const Taps cols = Flatten(Weights1D(width, dw));
    const Taps rows = Flatten(Weights1D(height, dh));

    const size_t n = size_t(dw) * 4;
    const int slots = std::max(rows.span, 1);
    std::vector<float> ring(size_t(slots) * n);
    std::vector<int> held(size_t(slots), -1);  // the source row in each slot
    std::vector<float> line(size_t(width) * 4);
    std::vector<const float*> taps;

    out.w = dw;
    out.h = dh;
    plat::ResizeLarge(out.px, size_t(dw) * size_t(dh));
    for (int i = 0; i < dh; ++i) {
        const int first = rows.begin[size_t(i)], last = rows.begin[size_t(i) + 1];
        taps.clear();
        for (int t = first; t < last; ++t) {
            const int row = rows.index[size_t(t)];
            const size_t slot = size_t(row % slots);
            float* entries = ring.data() + slot * n;
            if (held[slot] != row) {
                HorizontalRow(image.px.data() + size_t(y + row) * size_t(image.w) + size_t(x), width, cols, dw,
                              line.data(), entries);
                held[slot] = row;
            }
            taps.push_back(entries);
        }
        const float* weight = rows.weight.data() + first;
        const int count = last - first;
        uint32_t* dst = out.px.data() + size_t(flipY ? dh - 1 - i : i) * size_t(dw);
        const std::ptrdiff_t step = flipX ? -1 : 1;
        uint32_t* at = flipX ? dst + dw - 1 : dst;
        if (count == 2) {
            const float* a = taps[0];
            const float* b = taps[1];
            const float wa = weight[0], wb = weight[1];
            for (size_t k = 0; k < n; k += 4, at += step)
                *at = PackRounded(MulAdd(MulAdd(Zero(), wa, Load(a + k)), wb, Load(b + k)));
        } else {
            for (size_t k = 0; k < n; k += 4, at += step) {
                Quad acc = Zero();
                for (int t = 0; t < count; ++t) acc = MulAdd(acc, weight[t], Load(taps[size_t(t)] + k));
                *at = PackRounded(acc);
            }
        }
    }
    return out;
}

namespace {

// `image` mirrored left to right and/or top to bottom.
Image Mirrored(const Image& image, bool flipX, bool flipY) {
    Image out;
    out.w = image.w;
    out.h = image.h;
    plat::ResizeLarge(out.px, image.px.size());
    if (image.w <= 0 || image.h <= 0 || image.px.size() != size_t(image.w) * size_t(image.h)) {
        out.px = image.px;
        return out;
    }
    const size_t w = size_t(image.w);
    for (int row = 0; row < image.h; ++row) {
        const uint32_t* src = image.px.data() + size_t(row) * w;
        uint32_t* dst = out.px.data() + size_t(flipY ? image.h - 1 - row : row) * w;
        if (flipX) {
            std::reverse_copy(src, src + w, dst);
        } else {
            std::copy(src, src + w, dst);
        }
    }
    return out;
}

} // namespace

const Image& Scaled(const Image& image, int sx, int sy, int sw, int sh, int dw, int dh, bool flipX,
                    bool flipY) {
    const CacheKey key{&image, sx, sy, sw, sh, dw, dh, flipX, flipY};
    auto found = g_cache.find(key);
    if (found != g_cache.end()) return found->second;
    // The same request mirrored differently is already resampled: the result
    // is that image mirrored (resampling never looks at the flips).
    for (const auto& [otherX, otherY] : {std::pair{!flipX, flipY}, std::pair{flipX, !flipY}, std::pair{!flipX, !flipY}}) {
        auto other = g_cache.find(CacheKey{&image, sx, sy, sw, sh, dw, dh, otherX, otherY});
        if (other != g_cache.end()) return g_cache.emplace(key, Mirrored(other->second, otherX != flipX, otherY != flipY)).first->second;
    }
    return g_cache.emplace(key, Resample(image, sx, sy, sw, sh, dw, dh, flipX, flipY)).first->second;
}

const Image& Scaled(const Image& image, int dw, int dh, bool flipX, bool flipY) {
    return Scaled(image, 0, 0, image.w, image.h, dw, dh, flipX, flipY);
}

void ClearCache() { g_cache.clear(); }

size_t CacheSize() { return g_cache.size(); }

} // namespace settings::menu_art
