// Fonts and textures of the installer screen, made from the game's art.
#include "launcher/ui_fonts.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <filesystem>

#include "imgui_internal.h"
#include "launcher/window.h"
#include "runtime/log.h"
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
    // a time in a small float buffer.
    std::vector<uint32_t> out(static_cast<size_t>(W) * static_cast<size_t>(H));
    std::vector<float> rgb(static_cast<size_t>(W) * 3);
    const float span = static_cast<float>(std::max(H - 1, 1));
    for (int y = 0; y < H; ++y) {
        const float t = static_cast<float>(y) / span;
        const float top[3] = {255.0f - 14.0f * t, 204.0f - 58.0f * t, 66.0f - 34.0f * t};
        // Gradient, weave relief, fold and light map in one pass over the row.
        const uint32_t* weaveRow = weave ? weave->px.data() + static_cast<size_t>(y % tile) * tile : nullptr;
        const uint32_t* foldRow = fold ? fold->px.data() + static_cast<size_t>(y) * W : nullptr;
        const uint32_t* lightRow = light ? light->px.data() + static_cast<size_t>(y) * W : nullptr;
        int wx = 0;  // x mod tile
        for (int x = 0; x < W; ++x) {
            float r = top[0], g = top[1], b = top[2];
            if (weaveRow) {
                const float k = (Luminance(weaveRow[wx]) - weaveMean) * 1.1f + 1.0f;
                r *= k;
                g *= k;
                b *= k;
                if (++wx == tile) wx = 0;
            }
            if (foldRow) {
                const float v = Luminance(foldRow[x]);
                const float k = v * 0.3f + 0.86f;
                r = r * k + 40.0f * v;
                g = g * k + 30.0f * v;
                b = b * k;
            }
            if (lightRow) {
                const float k = 1.1f - 0.34f * Luminance(lightRow[x]);
                r *= k;
                g *= k;
                b *= k;
            }
            rgb[3 * x + 0] = r;
            rgb[3 * x + 1] = g;
            rgb[3 * x + 2] = b;
        }
        for (const Leaf& leaf : leaves) {
            const int ly = y - leaf.y0;
            if (ly < 0 || ly >= leaf.image->h) continue;
            const uint32_t* row = leaf.image->px.data() + static_cast<size_t>(ly) * leaf.image->w;
            const int x0 = std::max(leaf.x0, 0);
            const int x1 = std::min(leaf.x0 + leaf.image->w, W);
            for (int x = x0; x < x1; ++x) {
                const float a = static_cast<float>(row[x - leaf.x0] >> 24) / 255.0f * 0.36f;
                if (a == 0.0f) continue;
                rgb[3 * x + 0] += (196.0f - rgb[3 * x + 0]) * a;
                rgb[3 * x + 1] += (92.0f - rgb[3 * x + 1]) * a;
                rgb[3 * x + 2] += (12.0f - rgb[3 * x + 2]) * a;
            }
        }
        uint32_t* dst = out.data() + static_cast<size_t>(y) * W;
        // Clamped to 0 ... 255, truncated in between.
        for (int x = 0; x < W; ++x) {
            const uint32_t r = static_cast<uint32_t>(std::min(std::max(rgb[3 * x + 0], 0.0f), 255.0f));
            const uint32_t g = static_cast<uint32_t>(std::min(std::max(rgb[3 * x + 1], 0.0f), 255.0f));
            const uint32_t b = static_cast<uint32_t>(std::min(std::max(rgb[3 * x + 2], 0.0f), 255.0f));
            dst[x] = 0xFF000000u | r | g << 8 | b << 16;
        }
    }
    return out;
}
