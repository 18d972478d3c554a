// Fonts and textures of the installer screen, made from the game's art.
#include "launcher/ui_fonts.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <filesystem>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imgui_internal.h"
#include "launcher/window.h"
#include "runtime/log.h"
#include "runtime/platform/large_buffer.h"
#include "runtime/platform/text_canvas.h"

namespace ma = settings::menu_art;

Texture g_logo;
Texture g_star;
Texture g_frame;
Texture g_dividerL;
Texture g_dividerR;
Texture g_backdrop;

ImFont* g_ui = nullptr;
ImFont* g_fill[2] = {nullptr, nullptr};
ImFont* g_outline[2] = {nullptr, nullptr};

namespace {

constexpr int PAD = 3;  // transparent border around every rendered glyph

// Registers a glyph image of `font` at the size the font was added with, in a
// rectangle of the atlas. The glyph is not "coloured": ImGui's text colour
// tints it, which is how one white glyph serves every text style. Returns the
// rectangle, or an invalid id when the atlas has no room.
//
// This is the atlas's own custom-glyph call, which this ImGui build (obsolete
// functions disabled) leaves out, done through the atlas builder.
ImFontAtlasRectId AddGlyphRect(ImFontAtlas* atlas, ImFont* font, ImWchar codepoint, int w, int h,
                               float advance, ImVec2 offset) {
    ImFontBaked* baked = font->GetFontBaked(font->LegacySize);
    if (!baked) return ImFontAtlasRectId_Invalid;
    const ImFontAtlasRectId id = ImFontAtlasPackAddRect(atlas, w, h);
    if (id == ImFontAtlasRectId_Invalid) return id;
    ImTextureRect* r = ImFontAtlasPackGetRect(atlas, id);
    if (atlas->RendererHasTextures) ImFontAtlasTextureBlockQueueUpload(atlas, atlas->TexData, r->x, r->y, r->w, r->h);
    if (baked->IsGlyphLoaded(codepoint))
        ImFontAtlasBakedDiscardFontGlyph(atlas, font, baked, baked->FindGlyph(codepoint));
    ImFontGlyph glyph;
    glyph.Codepoint = codepoint;
    glyph.AdvanceX = advance;
    glyph.X0 = offset.x;
    glyph.Y0 = offset.y;
    glyph.X1 = offset.x + r->w;
    glyph.Y1 = offset.y + r->h;
    glyph.Visible = true;
    glyph.Colored = false;
    glyph.PackId = id;
    ImFontAtlasBakedAddFontGlyph(atlas, baked, font->Sources[0], &glyph);
    return id;
}

// One glyph of a game font drawn on a padded canvas and exported with
// straight alpha: letters white on a black outline, icons in their colours.
bool RenderGlyph(ma::FontId id, char32_t c, bool icon, float px, float& advance, int& w, int& h,
                 std::vector<uint32_t>& rgba) {
    const std::u32string text(1, c);
    const float width = icon ? ma::IconWidth(c, px * 0.92f) : ma::TextWidth(id, text, px, 1.0f);
    if (!(width > 0.0f)) return false;
    w = static_cast<int>(std::ceil(width)) + 2 * PAD;
    h = static_cast<int>(std::ceil(px)) + 2 * PAD;
    if (w > 0xFFFF || h > 0xFFFF) return false;
    ma::Canvas canvas;
    canvas.Reset(w, h);
    if (icon) {
        ma::DrawIcon(canvas, c, PAD, PAD + px * 0.04f, px * 0.92f, 1.0f, false);
    } else {
        ma::TextStyle style;
        style.fill = {255, 255, 255, 255};
        style.outline = {0, 0, 0, 255};
        style.opacity = 1.0f;
        ma::DrawGameText(canvas, id, text, PAD, PAD, px, style, 1.0f);
    }
    canvas.Export(rgba);
    advance = width;
    return rgba.size() == static_cast<size_t>(w) * static_cast<size_t>(h);
}

void Reserve(ImFontAtlas* atlas, ImFont* font, char32_t code, int w, int h, float advance,
             std::vector<uint32_t>&& px, std::vector<PendingGlyph>& pending) {
    if (!font || code > 0xFFFF) return;
    const int rect = AddGlyphRect(atlas, font, static_cast<ImWchar>(code), w, h, advance,
                                  ImVec2(-static_cast<float>(PAD), -static_cast<float>(PAD)));
    if (rect == ImFontAtlasRectId_Invalid) return;
    pending.push_back(PendingGlyph{rect, std::move(px)});
}

} // namespace

void AddGameGlyphs(ImFontAtlas* atlas, ma::FontId id, float px, std::vector<PendingGlyph>& pending) {
    const int slot = static_cast<int>(id);
    if (slot < 0 || slot > 1) return;
    std::vector<char32_t> codes;
    for (char32_t c = 33; c <= 126; ++c) codes.push_back(c);
    for (char32_t c = 192; c <= 255; ++c) codes.push_back(c);

    std::vector<uint32_t> rgba;
    for (char32_t c : codes) {
        if (!ma::HasGlyph(id, c)) continue;
        float advance = 0.0f;
        int w = 0, h = 0;
        if (!RenderGlyph(id, c, false, px, advance, w, h, rgba)) continue;
        std::vector<uint32_t> outline(rgba.size()), fill(rgba.size());
        for (size_t i = 0; i < rgba.size(); ++i) {
            const uint32_t r = rgba[i] & 0xFFu;
            const uint32_t a = rgba[i] >> 24;
            outline[i] = 0x00FFFFFFu | (a << 24);
            fill[i] = 0x00FFFFFFu | ((r * a / 255u) << 24);
        }
        Reserve(atlas, g_outline[slot], c, w, h, advance, std::move(outline), pending);
        Reserve(atlas, g_fill[slot], c, w, h, advance, std::move(fill), pending);
    }

    for (char32_t code = 177; code <= 190; ++code) {
        float advance = 0.0f;
        int w = 0, h = 0;
        if (!RenderGlyph(id, code, true, px, advance, w, h, rgba)) continue;
        const char32_t pua = ICON_CODE_BASE + code;
        Reserve(atlas, g_fill[slot], pua, w, h, advance, std::vector<uint32_t>(rgba), pending);
        Reserve(atlas, g_outline[slot], pua, w, h, advance, std::vector<uint32_t>(rgba.size(), 0u), pending);
    }
}

void BuildFonts() {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    atlas->Clear();

    const std::string bold = plat::SystemFontFile(plat::FontFace::Ui, true);
    const std::string regular = plat::SystemFontFile(plat::FontFace::Ui, false);

    auto add = [atlas](const std::string& file, float px) {
        ImFont* font = nullptr;
        std::error_code ec;
        if (!file.empty() && std::filesystem::is_regular_file(file, ec)) {
            ImFontConfig config;
            config.OversampleH = 2;
            config.Flags |= ImFontFlags_NoLoadError;
            font = atlas->AddFontFromFileTTF(file.c_str(), px, &config, atlas->GetGlyphRangesDefault());
        }
        if (!font) {
            ImFontConfig config;
            config.OversampleH = 2;
            config.SizePixels = px;
            font = atlas->AddFontDefault(&config);
        }
        return font;
    };

    g_ui = add(regular, 30.0f);
    const float sizes[2] = {44.0f, 60.0f};
    for (int i = 0; i < 2; ++i) {
        g_outline[i] = add(bold, sizes[i]);
        g_fill[i] = add(bold, sizes[i]);
    }
    ImGui::GetIO().FontDefault = g_ui;

    std::vector<PendingGlyph> pending;
    if (g_haveFonts) {
        AddGameGlyphs(atlas, ma::FontId::Small, sizes[0], pending);
        AddGameGlyphs(atlas, ma::FontId::Large, sizes[1], pending);
        // The game glyphs exist in one baked size per font; every other size
        // scales that bake instead of baking the system font anew.
        for (int i = 0; i < 2; ++i) {
            g_outline[i]->Flags |= ImFontFlags_LockBakedSizes;
            g_fill[i]->Flags |= ImFontFlags_LockBakedSizes;
        }
    }

    // The rectangles are final once all are reserved (the atlas grows while
    // packing); the pixels go straight into the atlas texture data, which the
    // renderer back-end uploads on the first frame.
    ImTextureData* tex = atlas->TexData;
    for (const PendingGlyph& glyph : pending) {
        ImFontAtlasRect r;
        if (!tex || !tex->Pixels || tex->BytesPerPixel != 4 || !atlas->GetCustomRect(glyph.rect, &r)) continue;
        if (static_cast<size_t>(r.w) * r.h != glyph.px.size()) continue;
        for (int y = 0; y < r.h; ++y) {
            std::copy(glyph.px.begin() + static_cast<size_t>(y) * r.w,
                      glyph.px.begin() + static_cast<size_t>(y + 1) * r.w,
                      static_cast<uint32_t*>(tex->GetPixelsAt(r.x, r.y + y)));
        }
        ImFontAtlasTextureBlockQueueUpload(atlas, tex, r.x, r.y, r.w, r.h);
    }

    Log("[launcher] fonts: %s, atlas %dx%d, %zu game glyph images (system font %s)",
        g_haveFonts ? "the game's Ombrax fonts" : "the system font only", tex ? tex->Width : 0,
        tex ? tex->Height : 0, pending.size(), regular.c_str());
}

std::vector<uint32_t> Straight(const ma::Image& image) {
    std::vector<uint32_t> out(image.px.size());
    for (size_t i = 0; i < image.px.size(); ++i) {
        const uint32_t p = image.px[i];
        const uint32_t a = p >> 24;
        if (a == 0) {
            out[i] = 0;
            continue;
        }
        uint32_t word = a << 24;
        for (int shift = 0; shift < 24; shift += 8) {
            const uint32_t c = std::min<uint32_t>((((p >> shift) & 0xFFu) * 255u) / a, 255u);
            word |= c << shift;
        }
        out[i] = word;
    }
    return out;
}

SDL_Texture* MakeTexture(const uint32_t* px, int w, int h) {
    if (!px || w <= 0 || h <= 0 || !g_renderer) return nullptr;
    SDL_Texture* texture = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!texture) return nullptr;
    SDL_UpdateTexture(texture, nullptr, px, w * 4);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture, SDL_SCALEMODE_LINEAR);
    return texture;
}

void ReleaseTexture(SDL_Texture*& texture) {
    if (texture) SDL_DestroyTexture(texture);
    texture = nullptr;
}

Texture ArtTexture(ma::Art art) {
    Texture t;
    const ma::Image* image = ma::GetArt(art);
    if (!image) return t;
    t.w = image->w;
    t.h = image->h;
    if (image->px.size() == static_cast<size_t>(image->w) * static_cast<size_t>(image->h)) {
        const std::vector<uint32_t> px = Straight(*image);
        t.view = MakeTexture(px.data(), image->w, image->h);
    }
    return t;
}

namespace {

inline float Luminance(uint32_t premultiplied) { return static_cast<float>(premultiplied & 0xFFu) / 255.0f; }

bool Usable(const ma::Image& image) {
    return image.w > 0 && image.h > 0 && image.px.size() == static_cast<size_t>(image.w) * static_cast<size_t>(image.h);
}

// One leaf copy over the window, used as a mask that pulls the colours
// towards the leaf colour.
struct Leaf {
    const ma::Image* image = nullptr;
    int x0 = 0;
    int y0 = 0;
};

// The steps of the background recipe on n pixels of one row, the colours in
// planar float rows. The vector forms below do lane by lane what the
// scalar tails do.
#if defined(__SSE2__)
inline __m128 Bytes4(const uint32_t* px, int shift) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
    return _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(words, shift), _mm_set1_epi32(0xFF)));
}
constexpr int VECTOR = 4;
#endif

// Fold: k = v * 0.3 + 0.86; r = r * k + 40v, g = g * k + 30v, b = b * k.
void FoldRow(const uint32_t* px, int n, float* R, float* G, float* B) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + VECTOR <= n; x += VECTOR) {
        const __m128 v = _mm_div_ps(Bytes4(px + x, 0), _mm_set1_ps(255.0f));
        const __m128 k = _mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(0.3f)), _mm_set1_ps(0.86f));
        _mm_storeu_ps(R + x, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(R + x), k), _mm_mul_ps(_mm_set1_ps(40.0f), v)));
        _mm_storeu_ps(G + x, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(G + x), k), _mm_mul_ps(_mm_set1_ps(30.0f), v)));
        _mm_storeu_ps(B + x, _mm_mul_ps(_mm_loadu_ps(B + x), k));
    }
#endif
    for (; x < n; ++x) {
        const float v = Luminance(px[x]);
        const float k = v * 0.3f + 0.86f;
        R[x] = R[x] * k + 40.0f * v;
        G[x] = G[x] * k + 30.0f * v;
        B[x] = B[x] * k;
    }
}

// Light map: all three channels times 1.1 - 0.34 v.
void LightRow(const uint32_t* px, int n, float* R, float* G, float* B) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + VECTOR <= n; x += VECTOR) {
        const __m128 v = _mm_div_ps(Bytes4(px + x, 0), _mm_set1_ps(255.0f));
        const __m128 k = _mm_sub_ps(_mm_set1_ps(1.1f), _mm_mul_ps(_mm_set1_ps(0.34f), v));
        _mm_storeu_ps(R + x, _mm_mul_ps(_mm_loadu_ps(R + x), k));
        _mm_storeu_ps(G + x, _mm_mul_ps(_mm_loadu_ps(G + x), k));
        _mm_storeu_ps(B + x, _mm_mul_ps(_mm_loadu_ps(B + x), k));
    }
#endif
    for (; x < n; ++x) {
        const float k = 1.1f - 0.34f * Luminance(px[x]);
        R[x] *= k;
        G[x] *= k;
        B[x] *= k;
    }
}

// Leaf mask: a = alpha / 255 * 0.36; c moves towards (196, 92, 12) by a. A
// pixel with a = 0 adds (target - c) * 0 = 0 and stays as it was.
void LeafRow(const uint32_t* px, int n, float* R, float* G, float* B) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + VECTOR <= n; x += VECTOR) {
        const __m128 a = _mm_mul_ps(_mm_div_ps(Bytes4(px + x, 24), _mm_set1_ps(255.0f)), _mm_set1_ps(0.36f));
        const __m128 r = _mm_loadu_ps(R + x), g = _mm_loadu_ps(G + x), b = _mm_loadu_ps(B + x);
        _mm_storeu_ps(R + x, _mm_add_ps(r, _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(196.0f), r), a)));
        _mm_storeu_ps(G + x, _mm_add_ps(g, _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(92.0f), g), a)));
        _mm_storeu_ps(B + x, _mm_add_ps(b, _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(12.0f), b), a)));
    }
#endif
    for (; x < n; ++x) {
        const float a = static_cast<float>(px[x] >> 24) / 255.0f * 0.36f;
        if (a == 0.0f) continue;
        R[x] += (196.0f - R[x]) * a;
        G[x] += (92.0f - G[x]) * a;
        B[x] += (12.0f - B[x]) * a;
    }
}

// Output: each channel clamped to 0 ... 255 (truncated in between), packed as
// opaque R, G, B, 255.
void PackRow(const float* R, const float* G, const float* B, int n, uint32_t* dst) {
    int x = 0;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps(), max = _mm_set1_ps(255.0f);
    for (; x + VECTOR <= n; x += VECTOR) {
        const __m128i r = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(R + x), zero), max));
        const __m128i g = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(G + x), zero), max));
        const __m128i b = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(B + x), zero), max));
        const __m128i word = _mm_or_si128(_mm_or_si128(r, _mm_slli_epi32(g, 8)),
                                          _mm_or_si128(_mm_slli_epi32(b, 16), _mm_set1_epi32(int(0xFF000000u))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), word);
    }
#endif
    for (; x < n; ++x) {
        const uint32_t r = static_cast<uint32_t>(std::min(std::max(R[x], 0.0f), 255.0f));
        const uint32_t g = static_cast<uint32_t>(std::min(std::max(G[x], 0.0f), 255.0f));
        const uint32_t b = static_cast<uint32_t>(std::min(std::max(B[x], 0.0f), 255.0f));
        dst[x] = 0xFF000000u | r | g << 8 | b << 16;
    }
}

} // namespace

std::vector<uint32_t> ComposeBackdrop(int W, int H, float s) {
    if (W <= 0 || H <= 0) return {};

    // The art this size needs, scaled (and cached by the art module) up front.
    const ma::Image* weave = nullptr;
    int tile = 0;
    float weaveMean = 0.0f;
    if (const ma::Image* art = ma::GetArt(ma::Art::BackdropWeave)) {
        tile = std::max(16L, std::lround(256.0f * s));
        const ma::Image& scaled = ma::Scaled(*art, tile, tile, false, false);
        if (Usable(scaled) && scaled.w == tile && scaled.h == tile) {
            double sum = 0.0;
            for (uint32_t p : scaled.px) sum += Luminance(p);
            weaveMean = static_cast<float>(sum / std::max<size_t>(scaled.px.size(), 1));
            weave = &scaled;
        }
    }
    const ma::Image* fold = nullptr;
    if (const ma::Image* art = ma::GetArt(ma::Art::BackdropFold)) {
        const ma::Image& scaled = ma::Scaled(*art, W, H, false, false);
        if (Usable(scaled) && scaled.w == W && scaled.h == H) fold = &scaled;
    }
    const ma::Image* light = nullptr;
    if (const ma::Image* art = ma::GetArt(ma::Art::LightMap)) {
        const ma::Image& scaled = ma::Scaled(*art, W, H, false, false);
        if (Usable(scaled) && scaled.w == W && scaled.h == H) light = &scaled;
    }
    // Foliage copies in the order they apply: top left, top right, bottom
    // left, bottom right.
    std::vector<Leaf> leaves;
    const int size = static_cast<int>(std::lround(static_cast<float>(H) * 0.62f));
    for (int bottom = 0; bottom < 2 && size > 0; ++bottom) {
        const ma::Image* art = ma::GetArt(bottom ? ma::Art::FoliageBottom : ma::Art::FoliageTop);
        if (!art) continue;
        const int y0 = bottom ? H - size : 0;
        const ma::Image& left = ma::Scaled(*art, size, size, false, false);
        if (Usable(left) && left.w == size && left.h == size) leaves.push_back({&left, 0, y0});
        const ma::Image& right = ma::Scaled(*art, size, size, true, false);
        if (Usable(right) && right.w == size && right.h == size) leaves.push_back({&right, W - size, y0});
    }

    // Every step works on one pixel at a time, so the picture is made a row at
    // a time in three planar float rows. Each step runs on four pixels at once
    // where the processor has vector registers; the lanes do exactly the
    // single-precision operations of the one-pixel form, in the same order, so
    // both give the same bits.
    std::vector<uint32_t> out;
    plat::ResizeLarge(out, static_cast<size_t>(W) * static_cast<size_t>(H));
    std::vector<float> planes(static_cast<size_t>(W) * 3);
    float* const R = planes.data();
    float* const G = R + W;
    float* const B = G + W;
    std::vector<float> weaveK(weave ? static_cast<size_t>(W) : 0);  // the relief factor of each column
    std::vector<float> tileK(weave ? static_cast<size_t>(tile) : 0);
    const float span = static_cast<float>(std::max(H - 1, 1));
    for (int y = 0; y < H; ++y) {
        const float t = static_cast<float>(y) / span;
        const float top[3] = {255.0f - 14.0f * t, 204.0f - 58.0f * t, 66.0f - 34.0f * t};
        // Gradient and weave relief.
        if (weave) {
            const uint32_t* weaveRow = weave->px.data() + static_cast<size_t>(y % tile) * tile;
            for (int x = 0; x < tile; ++x) tileK[x] = (Luminance(weaveRow[x]) - weaveMean) * 1.1f + 1.0f;
            for (int x = 0; x < W; x += tile) std::copy_n(tileK.data(), std::min(tile, W - x), weaveK.data() + x);
            for (int x = 0; x < W; ++x) {
                R[x] = top[0] * weaveK[x];
                G[x] = top[1] * weaveK[x];
                B[x] = top[2] * weaveK[x];
            }
        } else {
            std::fill(R, R + W, top[0]);
            std::fill(G, G + W, top[1]);
            std::fill(B, B + W, top[2]);
        }
        if (fold) FoldRow(fold->px.data() + static_cast<size_t>(y) * W, W, R, G, B);
        if (light) LightRow(light->px.data() + static_cast<size_t>(y) * W, W, R, G, B);
        for (const Leaf& leaf : leaves) {
            const int ly = y - leaf.y0;
            if (ly < 0 || ly >= leaf.image->h) continue;
            const uint32_t* row = leaf.image->px.data() + static_cast<size_t>(ly) * leaf.image->w;
            const int x0 = std::max(leaf.x0, 0);
            const int x1 = std::min(leaf.x0 + leaf.image->w, W);
            if (x0 < x1) LeafRow(row + (x0 - leaf.x0), x1 - x0, R + x0, G + x0, B + x0);
        }
        PackRow(R, G, B, W, out.data() + static_cast<size_t>(y) * W);
    }
    return out;
}
