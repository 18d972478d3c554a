// Procedural menu art. Shapes are drawn from signed distance fields (distance
// in pixels, negative inside) with one pixel of anti-aliasing; colours are
// composited premultiplied in floats and stored as straight 8-bit RGBA.
#include "tests/support/art_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {
namespace {

using settings::menu_art::Art;

constexpr float PI = 3.14159265358979f;

float Clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
float Smooth(float e0, float e1, float x) {
    const float t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
float Mix(float a, float b, float t) { return a + (b - a) * t; }
float Cover(float d) { return Clamp01(0.5f - d); }  // coverage of a pixel at signed distance d

struct Rgb {
    float r, g, b;  // 0..255
};
Rgb MixRgb(Rgb a, Rgb b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }

// Premultiplied float canvas.
struct Canvas {
    int w, h;
    std::vector<float> px;  // r, g, b, a per pixel, premultiplied, 0..1
    Canvas(int width, int height) : w(width), h(height), px(size_t(width) * size_t(height) * 4, 0.0f) {}

    void Over(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= w || y >= h || a <= 0) return;
        a = Clamp01(a);
        float* p = &px[(size_t(y) * size_t(w) + size_t(x)) * 4];
        const float k = 1 - a;
        p[0] = c.r / 255 * a + p[0] * k;
        p[1] = c.g / 255 * a + p[1] * k;
        p[2] = c.b / 255 * a + p[2] * k;
        p[3] = a + p[3] * k;
    }
    // Paints colour(x, y) with coverage cover(x, y) over the whole canvas.
    void Paint(const std::function<float(float, float)>& cover, const std::function<Rgb(float, float)>& colour) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float fx = x + 0.5f, fy = y + 0.5f;
                const float a = cover(fx, fy);
                if (a > 0) Over(x, y, colour(fx, fy), a);
            }
    }
    RgbaImage Straight() const {
        RgbaImage out;
        out.w = w;
        out.h = h;
        out.rgba.resize(size_t(w) * size_t(h) * 4);
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
            const float a = px[i * 4 + 3];
            uint8_t* o = &out.rgba[i * 4];
            const auto byte = [](float v) { return uint8_t(std::lround(Clamp01(v) * 255)); };
            o[3] = byte(a);
            if (o[3] == 0) {
                o[0] = o[1] = o[2] = 0;
                continue;
            }
            for (int c = 0; c < 3; ++c) o[c] = byte(px[i * 4 + c] / a);
        }
        return out;
    }
};

// ---- noise ------------------------------------------------------------------

float Hash(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return float(h & 0xFFFFFF) / float(0xFFFFFF);
}

// Smooth value noise; with period > 0 it repeats every `period` lattice cells.
float Noise(float x, float y, int seed, int period = 0) {
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - x0, fy = y - y0;
    const auto wrap = [period](int v) { return period > 0 ? ((v % period) + period) % period : v; };
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float a = Hash(wrap(x0), wrap(y0), seed), b = Hash(wrap(x0 + 1), wrap(y0), seed);
    const float c = Hash(wrap(x0), wrap(y0 + 1), seed), d = Hash(wrap(x0 + 1), wrap(y0 + 1), seed);
    return Mix(Mix(a, b, sx), Mix(c, d, sx), sy);
}

float Fbm(float x, float y, int seed, int octaves, int period = 0) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * Noise(x, y, seed + i * 17, period);
        norm += amp;
        x *= 2;
        y *= 2;
        if (period > 0) period *= 2;
        amp *= 0.5f;
    }
    return sum / norm;
}

// ---- distance primitives ------------------------------------------------------

struct P {
    float x, y;
};

float SegmentDistance(float px, float py, P a, P b, float yScale = 1) {
    const float ex = b.x - a.x, ey = (b.y - a.y) * yScale;
    const float wx = px - a.x, wy = (py - a.y) * yScale;
    const float ee = ex * ex + ey * ey;
    const float t = ee > 0 ? Clamp01((wx * ex + wy * ey) / ee) : 0;
    const float dx = wx - ex * t, dy = wy - ey * t;
    return std::sqrt(dx * dx + dy * dy);
}

// Signed distance to a closed polygon (negative inside).
float PolygonDistance(float px, float py, const std::vector<P>& v) {
    float d = (px - v[0].x) * (px - v[0].x) + (py - v[0].y) * (py - v[0].y);
    float s = 1;
    for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
        const float ex = v[j].x - v[i].x, ey = v[j].y - v[i].y;
        const float wx = px - v[i].x, wy = py - v[i].y;
        const float t = Clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
        const float bx = wx - ex * t, by = wy - ey * t;
        d = std::min(d, bx * bx + by * by);
        const bool c1 = py >= v[i].y, c2 = py < v[j].y, c3 = ex * wy > ey * wx;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
    }
    return s * std::sqrt(d);
}

std::vector<P> StarPolygon(float cx, float cy, float outer, float inner, int points, float rotation) {
    std::vector<P> v;
    for (int i = 0; i < points * 2; ++i) {
        const float r = i % 2 ? inner : outer;
        const float a = rotation + PI * i / points;
        v.push_back({cx + r * std::sin(a), cy - r * std::cos(a)});
    }
    return v;
}

using Polyline = std::vector<P>;

float PolylineDistance(float px, float py, const std::vector<Polyline>& lines, float yScale = 1) {
    float d = 1e9f;
    for (const Polyline& l : lines)
        for (size_t i = 0; i + 1 < l.size(); ++i) d = std::min(d, SegmentDistance(px, py, l[i], l[i + 1], yScale));
    return d;
}

Polyline Arc(float cx, float cy, float rx, float ry, float a0, float a1, int steps) {
    Polyline l;
    for (int i = 0; i <= steps; ++i) {
        const float a = a0 + (a1 - a0) * i / steps;
        l.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return l;
}

// ---- metal shading ------------------------------------------------------------

// Gold by height t (0 top .. 1 bottom) with a bright band a third of the way down.
Rgb Gold(float t) {
    const Rgb top{255, 240, 182}, mid{236, 178, 64}, low{150, 84, 22};
    if (t < 0.38f) return MixRgb(top, mid, t / 0.38f);
    return MixRgb(mid, low, (t - 0.38f) / 0.62f);
}

// Renders a distance field as embossed lettering: drop shadow, dark outline,
// fill coloured by fill(y) and lit from the upper left along its edges.
void Emboss(Canvas& c, const std::vector<float>& field, float outline, Rgb outlineColour,
            const std::function<Rgb(float, float)>& fill, float shadowAlpha, float glowRadius, Rgb glowColour) {
    const auto at = [&](int x, int y) {
        x = std::clamp(x, 0, c.w - 1);
        y = std::clamp(y, 0, c.h - 1);
        return field[size_t(y) * size_t(c.w) + size_t(x)];
    };
    if (glowRadius > 0)
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const float d = at(x, y);
                c.Over(x, y, glowColour, 0.55f * (1 - Smooth(0, glowRadius, d)));
            }
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const float d = at(x - 3, y - 4);
            c.Over(x, y, {18, 8, 2}, shadowAlpha * (1 - Smooth(-2, 6, d)));
        }
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const float d = at(x, y);
            const float ring = Cover(d - outline);
            if (ring <= 0) continue;
            c.Over(x, y, outlineColour, ring);
            const float inside = Cover(d);
            if (inside <= 0) continue;
            const float gx = at(x + 1, y) - at(x - 1, y), gy = at(x, y + 1) - at(x, y - 1);
            const float gl = std::sqrt(gx * gx + gy * gy) + 1e-6f;
            const float lit = (-gx * 0.6f - gy * 0.8f) / gl;  // outward normal towards the light
            const float edge = 1 - Smooth(-5.0f, -0.5f, -d);  // 1 near the edge, 0 deep inside
            Rgb colour = fill(x + 0.5f, y + 0.5f);
            const float shade = 1 + edge * lit * 0.45f;
            colour = {std::min(255.0f, colour.r * shade), std::min(255.0f, colour.g * shade),
                      std::min(255.0f, colour.b * shade)};
            // A thin bright line just inside the upper-left edges.
            const float line = Smooth(0.4f, 1, lit) * (1 - Smooth(1.0f, 2.2f, std::fabs(d + 1.6f)));
            colour = MixRgb(colour, {255, 252, 236}, line * 0.7f);
            c.Over(x, y, colour, inside);
        }
}

// ---- stroke letters -----------------------------------------------------------

struct Glyph {
    float width;
    std::vector<Polyline> strokes;
};

Glyph Letter(char ch) {
    switch (ch) {
    case 'A': return {0.86f, {{{0, 1}, {0.43f, 0}, {0.86f, 1}}, {{0.2f, 0.63f}, {0.66f, 0.63f}}}};
    case 'B': {
        Polyline l{{0.5f, 0.5f}, {0, 0.5f}, {0, 0}, {0.46f, 0}};
        Polyline top = Arc(0.46f, 0.25f, 0.25f, 0.25f, -PI / 2, PI / 2, 14);
        Polyline low = Arc(0.5f, 0.75f, 0.27f, 0.25f, -PI / 2, PI / 2, 14);
        Polyline base{{0.5f, 1}, {0, 1}, {0, 0.5f}};
        return {0.8f, {l, top, low, base}};
    }
    case 'E': return {0.7f, {{{0.7f, 0}, {0, 0}, {0, 1}, {0.7f, 1}}, {{0, 0.5f}, {0.52f, 0.5f}}}};
    case 'F': return {0.66f, {{{0.66f, 0}, {0, 0}, {0, 1}}, {{0, 0.5f}, {0.5f, 0.5f}}}};
    case 'H': return {0.82f, {{{0, 0}, {0, 1}}, {{0.82f, 0}, {0.82f, 1}}, {{0, 0.5f}, {0.82f, 0.5f}}}};
    case 'K': return {0.8f, {{{0, 0}, {0, 1}}, {{0.78f, 0}, {0.02f, 0.6f}}, {{0.27f, 0.41f}, {0.8f, 1}}}};
    case 'L': return {0.66f, {{{0, 0}, {0, 1}, {0.66f, 1}}}};
    case 'M': return {1.0f, {{{0, 1}, {0.04f, 0}, {0.5f, 0.72f}, {0.96f, 0}, {1.0f, 1}}}};
    case 'N': return {0.84f, {{{0, 1}, {0, 0}, {0.84f, 1}, {0.84f, 0}}}};
    case 'O': return {0.94f, {Arc(0.47f, 0.5f, 0.47f, 0.5f, 0, 2 * PI, 48)}};
    case 'R': {
        Polyline l{{0, 1}, {0, 0}, {0.46f, 0}};
        Polyline bowl = Arc(0.46f, 0.26f, 0.27f, 0.26f, -PI / 2, PI / 2, 14);
        Polyline back{{0.46f, 0.52f}, {0, 0.52f}};
        Polyline leg{{0.38f, 0.52f}, {0.8f, 1}};
        return {0.8f, {l, bowl, back, leg}};
    }
    case 'T': return {0.8f, {{{0, 0}, {0.8f, 0}}, {{0.4f, 0}, {0.4f, 1}}}};
    case 'U': {
        Polyline l{{0, 0}, {0, 0.62f}};
        Polyline bottom = Arc(0.41f, 0.62f, 0.41f, 0.38f, PI, 0, 20);
        std::reverse(bottom.begin(), bottom.end());
        Polyline r{{0.82f, 0.62f}, {0.82f, 0}};
        Polyline u = l;
        for (auto it = bottom.rbegin(); it != bottom.rend(); ++it) u.push_back(*it);
        u.insert(u.end(), r.begin() + 1, r.end());
        return {0.82f, {u}};
    }
    case 'V': return {0.86f, {{{0, 0}, {0.43f, 1}, {0.86f, 0}}}};
    case 'X': return {0.82f, {{{0, 0}, {0.82f, 1}}, {{0.82f, 0}, {0, 1}}}};
    default: return {0.5f, {}};
    }
}

// Serifs: a short bar across each stroke end on the top or bottom line, and a
// small tick at the ends of horizontal arms.
void AddSerifs(std::vector<Polyline>& strokes, float serif) {
    std::vector<Polyline> extra;
    for (const Polyline& l : strokes) {
        if (l.size() < 2) continue;
        const P ends[2][2] = {{l.front(), l[1]}, {l.back(), l[l.size() - 2]}};
        for (const auto& e : ends) {
            const P end = e[0], next = e[1];
            const bool horizontal = std::fabs(next.y - end.y) < 0.02f;
            if (horizontal) {
                const float dir = end.y < 0.5f ? 1 : -1;
                extra.push_back({{end.x, end.y}, {end.x, end.y + dir * serif * 1.1f}});
            } else if (end.y < 0.01f || end.y > 0.99f) {
                extra.push_back({{end.x - serif, end.y}, {end.x + serif, end.y}});
            }
        }
    }
    strokes.insert(strokes.end(), extra.begin(), extra.end());
}

struct TextLayout {
    std::vector<Polyline> strokes;  // in pixels
    float width = 0;
};

// Lays out capitals at letter height `size` px with top-left at (x, y).
TextLayout LayoutText(const std::string& text, float size, float tracking, bool serifs) {
    TextLayout out;
    float pen = 0;
    for (char ch : text) {
        if (ch == ' ') {
            pen += size * 0.42f;
            continue;
        }
        Glyph g = Letter(ch);
        if (serifs) AddSerifs(g.strokes, 0.13f);
        for (const Polyline& l : g.strokes) {
            Polyline p;
            for (const P& q : l) p.push_back({pen + q.x * size, q.y * size});
            out.strokes.push_back(p);
        }
        pen += g.width * size + tracking * size;
    }
    out.width = pen - tracking * size;
    return out;
}

// Distance field of laid-out text placed at (x, y), stroke half-width `half`;
// horizontal strokes come out thinner by `yScale`.
void TextField(std::vector<float>& field, int w, int h, const TextLayout& t, float x, float y, float half,
               float yScale) {
    std::vector<Polyline> placed;
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (const Polyline& l : t.strokes) {
        Polyline p;
        for (const P& q : l) {
            p.push_back({q.x + x, q.y + y});
            minX = std::min(minX, q.x + x);
            maxX = std::max(maxX, q.x + x);
            minY = std::min(minY, q.y + y);
            maxY = std::max(maxY, q.y + y);
        }
        placed.push_back(p);
    }
    const float reach = half + 24;
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px) {
            const float fx = px + 0.5f, fy = py + 0.5f;
            float& d = field[size_t(py) * size_t(w) + size_t(px)];
            if (fx < minX - reach || fx > maxX + reach || fy < minY - reach || fy > maxY + reach) continue;
            d = std::min(d, PolylineDistance(fx, fy, placed, yScale) - half);
        }
}

// ---- the images -----------------------------------------------------------------

// A faceted five-pointed star in light greys (the screen tints it).
RgbaImage Star(int size, int points, float innerRatio, int seedShift) {
    Canvas c(size, size);
    const float cx = size * 0.5f, cy = size * 0.53f, outer = size * 0.45f, inner = outer * innerRatio;
    const std::vector<P> poly = StarPolygon(cx, cy, outer, inner, points, 0);
    c.Paint([&](float x, float y) { return Cover(PolygonDistance(x, y, poly) - 0.6f); },
            [&](float x, float y) {
                // Each point has a lit and a shaded facet either side of its ridge.
                float a = std::atan2(x - cx, -(y - cy));
                if (a < 0) a += 2 * PI;
                const int facet = int(std::floor(a / (PI / points) + seedShift)) % 2;
                const float r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / outer;
                const float v = (facet ? 0.80f : 1.0f) - 0.10f * r;
                return Rgb{255 * v, 255 * v, 255 * v};
            });
    return c.Straight();
}

// The top-left quarter of a message frame: a curled corner (left third), the
// straight top edge, and inner fill in the last rows that continues downwards.
RgbaImage MessageFrame() {
    const int W = 192, H = 96;
    Canvas c(W, H);
    const float inset = 11, radius = 30;
    // Signed distance to the panel's rounded outer edge.
    const auto panel = [&](float x, float y) {
        const float cx = inset + radius, cy = inset + radius;
        if (x < cx && y < cy) return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - radius;
        if (x < cx) return inset - x;
        if (y < cy) return inset - y;
        return std::max(inset - x, inset - y);
    };
    const Rgb deep{14, 34, 46}, deeper{8, 20, 30};
    // Soft shadow outside the rim.
    c.Paint([&](float x, float y) { return 0.45f * (1 - Smooth(0, 7, panel(x, y))); },
            [](float, float) { return Rgb{10, 6, 2}; });
    // Fill: deep blue-green, a little lighter along the rim; constant further in.
    c.Paint([&](float x, float y) { return Cover(panel(x, y)) * 0.92f; },
            [&](float x, float y) {
                const float d = -panel(x, y);
                return MixRgb({30, 62, 70}, MixRgb(deep, deeper, 0.5f), Smooth(2, 22, d));
            });
    // Gold rim: a thick outer rule and a thin inner one.
    const auto rule = [&](float x, float y, float at, float half) { return std::fabs(panel(x, y) + at) - half; };
    c.Paint([&](float x, float y) { return Cover(rule(x, y, 2.2f, 2.0f)); },
            [&](float x, float y) {
                const float t = Clamp01((panel(x, y) + 4.2f) / 4.0f);
                return MixRgb({255, 232, 160}, {170, 100, 30}, t);
            });
    c.Paint([&](float x, float y) { return Cover(rule(x, y, 9.0f, 0.7f)); },
            [](float, float) { return Rgb{214, 160, 70}; });
    // The curl: a gold volute sitting on the corner, spiralling inwards, and a
    // teardrop flourish pointing into the panel.
    const float vx = 25, vy = 25;
    Polyline spiral;
    for (int i = 0; i <= 120; ++i) {
        const float t = float(i) / 120;
        const float a = -PI * 0.75f + t * 2.6f * PI;
        const float r = 13.5f * (1 - 0.78f * t);
        spiral.push_back({vx + r * std::cos(a), vy + r * std::sin(a)});
    }
    const std::vector<Polyline> curl{spiral};
    c.Paint([&](float x, float y) {
        const float r = std::sqrt((x - vx) * (x - vx) + (y - vy) * (y - vy));
        return Cover(r - 15.5f);
    }, [&](float x, float y) {
        const float r = std::sqrt((x - vx) * (x - vx) + (y - vy) * (y - vy)) / 15.5f;
        return MixRgb({40, 78, 84}, deeper, r);
    });
    c.Paint([&](float x, float y) { return Cover(PolylineDistance(x, y, curl) - 1.9f); },
            [&](float, float y) { return Gold(Clamp01((y - vy + 14) / 28)); });
    c.Paint([&](float x, float y) {
        const float r = std::sqrt((x - vx) * (x - vx) + (y - vy) * (y - vy));
        return Cover(std::fabs(r - 15.5f) - 1.1f);
    }, [](float, float) { return Rgb{236, 190, 96}; });
    // Flourish: a leaf shape along the diagonal.
    c.Paint([&](float x, float y) {
        const float u = ((x - vx) + (y - vy)) * 0.7071f - 17;  // along the diagonal
        const float v = ((x - vx) - (y - vy)) * 0.7071f;
        if (u < 0 || u > 24) return 0.0f;
        const float half = 4.2f * std::pow(std::sin(PI * u / 24), 0.8f);
        return Cover(std::fabs(v) - half);
    }, [&](float x, float y) { return Gold(Clamp01((x + y - 60) / 40)); });
    return c.Straight();
}

// A divider ornament: a line tapering from the outer end to a diamond and a
// dot at the inner end, with two small curls. White; the screen tints it.
RgbaImage Divider(bool mirrored) {
    const int W = 256, H = 32;
    Canvas c(W, H);
    const float cy = H * 0.5f;
    const auto coverAt = [&](float xx, float y) {
        const float x = mirrored ? W - xx : xx;
        float d = 1e9f;
        // Tapered line from x = 6 to x = 204.
        if (x > 4 && x < 206) {
            const float t = Clamp01((x - 6) / 198);
            const float half = 0.45f + 1.55f * t * t;
            d = std::min(d, std::fabs(y - cy) - half);
            d = std::max(d, 6 - x);
        }
        // Diamond at x = 216.
        d = std::min(d, (std::fabs(x - 216) / 10 + std::fabs(y - cy) / 7 - 1) * 6);
        // Dot beyond it.
        d = std::min(d, std::sqrt((x - 236) * (x - 236) + (y - cy) * (y - cy)) - 2.6f);
        // Two curls leaning towards the diamond.
        for (int side = -1; side <= 1; side += 2) {
            Polyline curl;
            for (int i = 0; i <= 40; ++i) {
                const float t = float(i) / 40;
                const float a = PI * (0.5f + 1.5f * t);
                const float r = 7 * (1 - 0.55f * t);
                curl.push_back({188 + 9 * t + r * std::cos(a) * 0.9f, cy + side * (6 + r * std::sin(a) * 0.7f)});
            }
            d = std::min(d, PolylineDistance(x, y, {curl}) - 0.9f);
        }
        return Cover(d);
    };
    c.Paint(coverAt, [](float, float y) {
        const float v = 1 - 0.12f * Clamp01((y - 12) / 10);
        return Rgb{255 * v, 255 * v, 255 * v};
    });
    return c.Straight();
}

// A seamless basket weave in greys: over-and-under strands with cylinder
// shading and fibres.
RgbaImage Weave() {
    const int S = 256, cell = 32;
    Canvas c(S, S);
    c.Paint([](float, float) { return 1.0f; }, [&](float x, float y) {
        const int ix = int(x) / cell, iy = int(y) / cell;
        const float u = std::fmod(x, float(cell)), v = std::fmod(y, float(cell));
        const bool horizontal = (ix + iy) % 2 == 0;
        const float across = horizontal ? v : u;  // position across the strand
        const float along = horizontal ? u : v;
        float lum = 0.16f;  // gap between strands
        if (across > 2.5f && across < cell - 2.5f) {
            const float profile = std::sin(PI * (across - 2.5f) / (cell - 5));
            const float dip = 0.72f + 0.28f * std::sin(PI * along / cell);
            const float fibre = Fbm(horizontal ? x / 3 : x / 24, horizontal ? y / 24 : y / 3, 11, 3, 0);
            lum = (0.30f + 0.5f * profile) * dip + (fibre - 0.5f) * 0.12f;
        }
        lum = Clamp01(lum + (Noise(x / 8, y / 8, 5, S / 8) - 0.5f) * 0.05f);
        // A gentle relief: the screen multiplies the backdrop by the tile's
        // brightness around its mean, so a strong tile would drown the text.
        lum = 0.5f + (lum - 0.5f) * 0.4f;
        return Rgb{255 * lum, 255 * lum, 255 * lum};
    });
    return c.Straight();
}

// Draped folds: soft diagonal ridges of light on a dark ground.
RgbaImage Fold() {
    const int W = 512, H = 288;
    Canvas c(W, H);
    struct Ridge {
        float at, width, amp, sharp;
    };
    const Ridge ridges[] = {{70, 26, 0.55f, 0.5f}, {170, 40, 0.75f, 0.35f}, {250, 18, 0.4f, 0.6f},
                            {345, 46, 0.7f, 0.3f}, {455, 30, 0.5f, 0.45f}};
    c.Paint([](float, float) { return 1.0f; }, [&](float x, float y) {
        const float ang = -0.42f;
        float u = x * std::cos(ang) - y * std::sin(ang);
        const float t = (x * std::sin(ang) + y * std::cos(ang)) / H;
        u += 18 * std::sin(t * 3.1f + x * 0.004f);
        float lum = 0.10f + 0.06f * Fbm(x / 90, y / 90, 3, 3);
        for (const Ridge& r : ridges) {
            const float d = (u - r.at) / r.width;
            // A ridge lit on one side and falling off steeply on the other.
            const float shape = d < 0 ? std::exp(-d * d * 1.2f) : std::exp(-d * d / r.sharp);
            const float fade = 0.55f + 0.45f * std::sin(t * 2.4f + r.at * 0.03f);
            lum += r.amp * shape * fade;
        }
        lum = Clamp01(lum);
        return Rgb{255 * lum, 255 * lum, 255 * lum};
    });
    return c.Straight();
}

// A light map: dark where the light falls (upper left, behind the title),
// brighter towards the edges and corners.
RgbaImage LightMap() {
    const int W = 256, H = 144;
    Canvas c(W, H);
    c.Paint([](float, float) { return 1.0f; }, [&](float x, float y) {
        const float nx = x / W - 0.3f, ny = (y / H - 0.36f) * 0.5625f;
        const float r = std::sqrt(nx * nx + ny * ny);
        float lum = std::pow(Clamp01((r - 0.08f) / 0.78f), 1.3f);
        lum += 0.18f * Smooth(0.7f, 1.0f, y / H);
        lum += (Fbm(x / 40, y / 40, 21, 3) - 0.5f) * 0.08f;
        lum = Clamp01(lum);
        return Rgb{255 * lum, 255 * lum, 255 * lum};
    });
    return c.Straight();
}

// Foliage growing out of one corner: stems with almond leaves. The screen uses
// only the alpha; the colours are for whoever looks at the sheet.
RgbaImage Foliage(bool bottom, int seed) {
    const int S = 384;
    Canvas c(S, S);
    struct Leaf {
        P base;
        float angle, length, width;
    };
    std::vector<Polyline> stems;
    std::vector<float> stemWidth;
    std::vector<Leaf> leaves;
    // Five stems leave the corner: along the edge, across, and down the side.
    const float angles[] = {0.06f, 0.34f, 0.66f, 0.98f, 1.32f};
    const float lengths[] = {370, 250, 320, 230, 340};
    for (int s = 0; s < 5; ++s) {
        Polyline stem;
        float x = -6, y = -6, a = angles[s];
        const int steps = 60;
        for (int i = 0; i <= steps; ++i) {
            stem.push_back({x, y});
            const float bend = (Hash(s, i / 12, seed) - 0.5f) * 0.05f + 0.004f * (s % 2 ? 1 : -1);
            a += bend;
            x += std::cos(a) * lengths[s] / steps;
            y += std::sin(a) * lengths[s] / steps;
            if (i > 3 && i % 4 == 0) {
                const float t = float(i) / steps;
                const int side = (i / 4) % 2 ? 1 : -1;
                const float len = Mix(62, 20, t) * (0.8f + 0.4f * Hash(s, i, seed + 1));
                leaves.push_back({{x, y}, a + side * (0.75f + 0.3f * Hash(i, s, seed + 2)), len, len * 0.30f});
            }
        }
        stems.push_back(stem);
        stemWidth.push_back(s == 2 ? 4.5f : 3.2f);
    }
    // Leaves: distance across the leaf against its half-width along it.
    const auto leafDist = [&](float px, float py, const Leaf& l, float& along, float& across) {
        const float dx = px - l.base.x, dy = py - l.base.y;
        along = dx * std::cos(l.angle) + dy * std::sin(l.angle);
        across = -dx * std::sin(l.angle) + dy * std::cos(l.angle);
        if (along < 0 || along > l.length) return 1e9f;
        const float t = along / l.length;
        const float half = l.width * std::pow(std::sin(PI * t), 0.75f) * (1 - 0.25f * t);
        return std::fabs(across + 0.12f * l.width * std::sin(PI * t)) - half;
    };
    const auto yOf = [&](float y) { return bottom ? S - y : y; };
    c.Paint([&](float x, float yy) {
        const float y = yOf(yy);
        float d = 1e9f;
        for (size_t s = 0; s < stems.size(); ++s) {
            const Polyline& st = stems[s];
            for (size_t i = 0; i + 1 < st.size(); ++i) {
                const float t = float(i) / st.size();
                d = std::min(d, SegmentDistance(x, y, st[i], st[i + 1]) - stemWidth[s] * (1 - 0.75f * t));
            }
        }
        return Cover(d);
    }, [](float, float) { return Rgb{46, 60, 22}; });
    for (const Leaf& l : leaves)
        c.Paint([&](float x, float yy) {
            float along, across;
            const float d = leafDist(x, yOf(yy), l, along, across);
            if (d > 1) return 0.0f;
            // The midrib lets a little of the ground through.
            const float rib = 1 - 0.4f * (1 - Smooth(0.4f, 1.2f, std::fabs(across)));
            return Cover(d) * rib;
        }, [&](float x, float yy) {
            float along, across;
            leafDist(x, yOf(yy), l, along, across);
            const float t = Clamp01(along / l.length);
            const Rgb dark{20, 58, 34}, light{70, 116, 52};
            Rgb col = MixRgb(dark, light, Clamp01(0.3f + 0.7f * (across / l.width + 0.5f)) * (1 - 0.4f * t));
            if (std::fabs(across) < 1.0f) col = MixRgb(col, {200, 160, 70}, 0.6f);
            return col;
        });
    return c.Straight();
}

// The pause strip: a deep blue band with gold rules, fading out at both ends.
RgbaImage PauseStrip() {
    const int W = 512, H = 64;
    Canvas c(W, H);
    const auto fade = [&](float x) { return Smooth(0, 90, x) * Smooth(0, 90, W - x); };
    c.Paint([&](float x, float y) { return fade(x) * 0.88f * Cover(std::fabs(y - H * 0.5f) - 24); },
            [&](float x, float y) {
                const float t = std::fabs(y - H * 0.5f) / 24;
                const Rgb mid{18, 36, 78}, edge{6, 12, 32};
                Rgb col = MixRgb(mid, edge, t * t);
                const float n = (Fbm(x / 30, y / 6, 7, 3) - 0.5f) * 0.25f;
                return Rgb{col.r * (1 + n), col.g * (1 + n), col.b * (1 + n)};
            });
    for (float ry : {6.5f, 57.5f})
        c.Paint([&](float x, float y) { return fade(x) * Cover(std::fabs(y - ry) - 1.3f); },
                [&](float, float y) { return Gold(Clamp01((y - ry + 1.5f) / 3)); });
    for (float ry : {11.0f, 53.0f})
        c.Paint([&](float x, float y) { return fade(x) * 0.8f * Cover(std::fabs(y - ry) - 0.45f); },
                [](float, float) { return Rgb{200, 150, 70}; });
    for (float ry : {6.5f, 57.5f})
        c.Paint([&](float x, float y) {
            return Cover((std::fabs(x - W * 0.5f) / 9 + std::fabs(y - ry) / 5 - 1) * 5);
        }, [&](float, float y) { return Gold(Clamp01((y - ry + 5) / 10)); });
    return c.Straight();
}

// The title: VELKOR in embossed gold over OF THE OMBRAX between two rules.
// The installer writes the subtitle LUMENFALL below the logo itself.
RgbaImage TitleLogo() {
    const int W = 512, H = 144;
    Canvas c(W, H);
    const size_t n = size_t(W) * size_t(H);

    std::vector<float> big(n, 1e9f);
    const TextLayout velkor = LayoutText("VELKOR", 84, 0.16f, true);
    TextField(big, W, H, velkor, (W - velkor.width) * 0.5f, 14, 7.5f, 1.7f);

    std::vector<float> small(n, 1e9f);
    const TextLayout ombrax = LayoutText("OF THE OMBRAX", 17, 0.24f, false);
    const float ox = (W - ombrax.width) * 0.5f;
    TextField(small, W, H, ombrax, ox, 117, 1.6f, 1.3f);

    // Rules with diamond ends either side of the middle line.
    std::vector<float> rules(n, 1e9f);
    for (int side = -1; side <= 1; side += 2) {
        const float inner = side < 0 ? ox - 14 : ox + ombrax.width + 14;
        const float outer = side < 0 ? 62 : W - 62;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const float fx = x + 0.5f, fy = y + 0.5f;
                float d = SegmentDistance(fx, fy, {outer, 125.5f}, {inner, 125.5f}) - 1.1f;
                d = std::min(d, (std::fabs(fx - inner) / 7 + std::fabs(fy - 125.5f) / 4.5f - 1) * 4.5f);
                d = std::min(d, std::sqrt((fx - outer) * (fx - outer) + (fy - 125.5f) * (fy - 125.5f)) - 2.4f);
                float& r = rules[size_t(y) * size_t(W) + size_t(x)];
                r = std::min(r, d);
            }
    }

    const auto goldFill = [&](float top, float height) {
        return [top, height](float, float y) { return Gold(Clamp01((y - top) / height)); };
    };
    Emboss(c, big, 3.6f, {38, 18, 4}, goldFill(14, 84), 0.65f, 10, {14, 24, 60});
    Emboss(c, small, 1.6f, {38, 18, 4}, goldFill(117, 17), 0.4f, 0, {});
    Emboss(c, rules, 1.3f, {38, 18, 4}, goldFill(120, 11), 0.35f, 0, {});

    // A four-pointed glint on the upper right of the O.
    const float gx = (W - velkor.width) * 0.5f + velkor.width * 0.66f, gy = 22;
    c.Paint([&](float x, float y) {
        const float dx = std::fabs(x - gx), dy = std::fabs(y - gy);
        const float ray = std::min(dx * 0.16f + dy * 1.0f, dx * 1.0f + dy * 0.16f);
        return Clamp01(1.2f - ray / 2.4f) * Clamp01(1 - std::sqrt(dx * dx + dy * dy) / 16);
    }, [](float, float) { return Rgb{255, 252, 230}; });
    return c.Straight();
}

} // namespace

RgbaImage PaintArt(Art art) {
    switch (art) {
    case Art::StarFull: return Star(64, 5, 0.42f, 0);
    case Art::PauseStrip: return PauseStrip();
    case Art::MessageFrame: return MessageFrame();
    case Art::DividerLeft: return Divider(false);
    case Art::DividerRight: return Divider(true);
    case Art::BackdropWeave: return Weave();
    case Art::BackdropFold: return Fold();
    case Art::FoliageTop: return Foliage(false, 31);
    case Art::FoliageBottom: return Foliage(true, 47);
    case Art::LightMap: return LightMap();
    case Art::TitleLogo: return TitleLogo();
    case Art::Count: break;
    }
    return {};
}

RgbaImage PaintDecoyStar() { return Star(48, 4, 0.35f, 1); }

} // namespace testsupport
