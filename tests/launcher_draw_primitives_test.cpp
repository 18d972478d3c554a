// The screen's drawing primitives as they reach the screen: a hidden window
// under SDL's offscreen video driver, the fonts and art textures built from a
// synthetic game dump (with the game fonts), each primitive rendered through
// ImGui's SDL renderer back-end and the pixels read back from the renderer.
#include "imgui.h"
#include "imgui_impl_sdl3.h"
#include "imgui_impl_sdlrenderer3.h"
#include "launcher/screen_draw.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/settings/menu_art_fonts.h"
#include "tests/support/font_fixture.h"
#include "tests/support/synthetic_dump.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

// A frame read back from the renderer: bytes R, G, B, A.
struct Shot {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    Rgba bg;  // the background colour
    Rgba At(int x, int y) const {
        const uint8_t* p = px.data() + (static_cast<size_t>(y) * w + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    // Pixels within `tolerance` of the colour in the rectangle [x0, x1) x [y0, y1).
    int Count(int x0, int y0, int x1, int y1, Rgba c, int tolerance = 2) const {
        int n = 0;
        for (int y = std::max(y0, 0); y < std::min(y1, h); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, w); ++x) {
                const Rgba p = At(x, y);
                n += std::abs(p.r - c.r) <= tolerance && std::abs(p.g - c.g) <= tolerance &&
                     std::abs(p.b - c.b) <= tolerance;
            }
        return n;
    }
    // Bounding box of the pixels that are not the background.
    bool Ink(int& x0, int& y0, int& x1, int& y1) const {
        x0 = y0 = 1 << 30;
        x1 = y1 = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgba p = At(x, y);
                if (std::abs(p.r - bg.r) + std::abs(p.g - bg.g) + std::abs(p.b - bg.b) > 24) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y);
                    x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
                }
            }
        return x1 > 0;
    }
};

Rgba Of(ImU32 c) {
    return {int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF), int(c >> 24)};
}
// A colour of alpha a blended over black.
Rgba OverBlack(Rgba c) { return {c.r * c.a / 255, c.g * c.a / 255, c.b * c.a / 255, 255}; }

// Renders one frame with `draw` over the background and reads it back.
Shot Render(const std::function<void()>& draw, Rgba bg = {0, 0, 0, 255}) {
    ImGui_ImplSDLRenderer3_NewFrame();
    ImGui_ImplSDL3_NewFrame();
    ImGui::NewFrame();
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    g_view = ViewFor(display.x, display.y);
    g_draw = ImGui::GetBackgroundDrawList();
    draw();
    ImGui::Render();
    SDL_SetRenderScale(g_renderer, 1.0f, 1.0f);
    SDL_SetRenderDrawColor(g_renderer, Uint8(bg.r), Uint8(bg.g), Uint8(bg.b), 255);
    SDL_RenderClear(g_renderer);
    ImGui_ImplSDLRenderer3_RenderDrawData(ImGui::GetDrawData(), g_renderer);
    Shot shot;
    shot.bg = bg;
    SDL_Surface* read = SDL_RenderReadPixels(g_renderer, nullptr);
    if (read) {
        SDL_Surface* rgba = SDL_ConvertSurface(read, SDL_PIXELFORMAT_RGBA32);
        SDL_DestroySurface(read);
        if (rgba) {
            shot.w = rgba->w, shot.h = rgba->h;
            shot.px.resize(static_cast<size_t>(shot.w) * shot.h * 4);
            for (int y = 0; y < shot.h; ++y)
                std::copy_n(static_cast<uint8_t*>(rgba->pixels) + static_cast<size_t>(y) * rgba->pitch, shot.w * 4,
                            shot.px.data() + static_cast<size_t>(y) * shot.w * 4);
            SDL_DestroySurface(rgba);
        }
    }
    SDL_RenderPresent(g_renderer);
    return shot;
}

// The synthetic dump with both game fonts in its persistent package.
bool WriteDumpWithFonts(const fs::path& folder, std::string& error) {
    return testsupport::WriteSyntheticDump(folder, error) &&
           testsupport::WriteDefaultRcf(folder, testsupport::GameFontsIn::Both, error);
}

struct Saved {
    Texture logo, star, frame, dividerL, dividerR;
};

class Primitives : public ::testing::Test {
protected:
    static testsupport::TempDir* s_tmp;
    static bool s_ready;

    static void SetUpTestSuite() {
        setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
        s_tmp = new testsupport::TempDir("draw");
        std::string error;
        const fs::path dump = s_tmp->path() / "dump";
        if (!WriteDumpWithFonts(dump, error)) {
            ADD_FAILURE() << error;
            return;
        }
        testsupport::MountGame(dump);
        ma::StartLoading();
        if (OpenWindow(true) != 0) {
            ADD_FAILURE() << "no window: " << SDL_GetError();
            return;
        }
        LoadScreenArt();
        s_ready = g_artLoaded && g_haveFonts;
        if (!s_ready) ADD_FAILURE() << "the game art did not load";
        Render([] {});  // the font atlas reaches the GPU
    }
    static void TearDownTestSuite() {
        if (g_window) CloseWindow();
        delete s_tmp;
        s_tmp = nullptr;
    }
    void SetUp() override {
        if (!s_ready) GTEST_SKIP() << "no window or art";
    }

    // Runs `body` with the system font only and no art textures, then puts
    // the game fonts and textures back.
    static void WithoutArt(const std::function<void()>& body) {
        const Saved saved{g_logo, g_star, g_frame, g_dividerL, g_dividerR};
        g_logo = g_star = g_frame = g_dividerL = g_dividerR = Texture();
        g_haveFonts = false;
        BuildFonts();
        body();
        g_haveFonts = true;
        BuildFonts();
        g_logo = saved.logo, g_star = saved.star, g_frame = saved.frame;
        g_dividerL = saved.dividerL, g_dividerR = saved.dividerR;
    }
};
testsupport::TempDir* Primitives::s_tmp = nullptr;
bool Primitives::s_ready = false;

TEST_F(Primitives, TheHiddenScreenshotWindowIsTheVirtualScreenAtScaleOne) {
    int w = 0, h = 0;
    SDL_GetWindowSizeInPixels(g_window, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_TRUE(SDL_GetWindowFlags(g_window) & SDL_WINDOW_HIDDEN);
    const ImGuiIO& io = ImGui::GetIO();
    EXPECT_EQ(io.IniFilename, nullptr);
    EXPECT_EQ(io.LogFilename, nullptr);
    EXPECT_EQ(io.ConfigFlags, ImGuiConfigFlags_NavEnableGamepad);
    EXPECT_EQ(ImGui::GetStyle().Colors[ImGuiCol_NavCursor].w, 0.0f);
    EXPECT_EQ(ImGui::GetStyle().DisabledAlpha, 1.0f);
    EXPECT_EQ(io.FontDefault, g_ui);
}

// The game lettering: the outline layer shows around the fill layer, each in
// its style's colour, at the size the glyphs were baked at and at sizes that
// scale that bake (a tinted glyph, not a white "coloured" one, and not the
// system font baked anew).
TEST_F(Primitives, GameTextShowsFillAndOutlineInTheStyleColours) {
    const Rgba grey = {128, 128, 128, 255};
    for (float size : {44.0f, 22.0f, 90.0f}) {
        const Shot shot = Render([size] { Draw(0, "HOME", 100, 100, size, TITLE, 0, 1e9f); }, grey);
        const int fill = shot.Count(0, 0, 1280, 720, Of(TITLE.fill), 6);
        // Over grey, only the dark outline makes pixels darker than the
        // background (the fill and its blends with grey are all lighter in red).
        int dark = 0;
        for (int y = 0; y < shot.h; ++y)
            for (int x = 0; x < shot.w; ++x) dark += shot.At(x, y).r < 110;
        EXPECT_GT(fill, size * 4) << "size " << size;
        EXPECT_GT(dark, size) << "size " << size;
        if (size == 44.0f) {
            EXPECT_GT(shot.Count(0, 0, 1280, 720, Of(TITLE.outline), 12), size);
        }
        EXPECT_EQ(shot.Count(0, 0, 1280, 720, {255, 255, 255, 255}, 40), 0) << "size " << size;
        int x0, y0, x1, y1;
        ASSERT_TRUE(shot.Ink(x0, y0, x1, y1));
        EXPECT_NEAR(x1 - x0, TextWidth(0, "HOME", size), 8.0f) << "size " << size;
        EXPECT_GE(y0, 100 - 4);
        EXPECT_LE(y1, 100 + size + 4);
    }
    const Shot large = Render([] { Draw(1, "Ação", 100, 100, 60, SELECTED, 0, 1e9f); }, grey);
    EXPECT_GT(large.Count(0, 0, 1280, 720, Of(SELECTED.fill), 6), 200);
    EXPECT_GT(large.Count(0, 0, 1280, 720, Of(SELECTED.outline), 12), 60);
}

TEST_F(Primitives, GameTextWiderThanItsLimitShrinksAndStaysCentred) {
    const std::string text = "INSTALLATION COMPLETE";
    const float natural = TextWidth(1, text, 60);
    ASSERT_GT(natural, 400.0f);
    const Shot shot = Render([&] { Draw(1, text, 640, 300, 60, GOLD, 0.5f, 400); });
    int x0, y0, x1, y1;
    ASSERT_TRUE(shot.Ink(x0, y0, x1, y1));
    EXPECT_NEAR((x0 + x1) * 0.5, 640.0, 4.0);
    EXPECT_NEAR(x1 - x0, 400.0, 10.0);
    const float fitted = 60.0f * 400.0f / natural;
    const float top = 300.0f + (60.0f - fitted) * 0.5f;
    EXPECT_GE(y0, top - 4);
    EXPECT_LE(y1, top + fitted + 4);
    EXPECT_GT(y0, 300 + 2) << "the shrunken text moved down to the middle of its line";
    // A limit of nothing draws nothing (not text at ImGui's default size).
    const Shot none = Render([&] { Draw(1, text, 640, 300, 60, GOLD, 0.5f, 0); });
    EXPECT_FALSE(none.Ink(x0, y0, x1, y1));
}

// The atlas holds the game glyphs as white images: the outline layer has the
// letter's whole alpha, the fill layer the alpha of its body only.
TEST_F(Primitives, TheAtlasHoldsTheGameGlyphsInTwoLayers) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImTextureData* tex = atlas->TexData;
    ASSERT_NE(tex, nullptr);
    ma::Canvas canvas;
    const float px = 60.0f;
    const int w = int(std::ceil(ma::TextWidth(ma::FontId::Large, U"R", px, 1))) + 6, h = int(std::ceil(px)) + 6;
    canvas.Reset(w, h);
    ma::TextStyle style;
    style.fill = {255, 255, 255, 255};
    style.outline = {0, 0, 0, 255};
    ma::DrawGameText(canvas, ma::FontId::Large, U"R", 3, 3, px, style, 1);
    std::vector<uint32_t> expected;
    canvas.Export(expected);

    for (ImFont* font : {g_outline[1], g_fill[1]}) {
        ImFontBaked* baked = font->GetFontBaked(60.0f);
        ASSERT_NE(baked, nullptr);
        EXPECT_EQ(baked->Size, 60.0f);
        ImFontGlyph* glyph = baked->FindGlyphNoFallback('R');
        ASSERT_NE(glyph, nullptr);
        EXPECT_FALSE(glyph->Colored);
        EXPECT_EQ(glyph->X0, -3.0f);
        EXPECT_EQ(glyph->Y0, -3.0f);
        ImFontAtlasRect r;
        ASSERT_TRUE(atlas->GetCustomRect(glyph->PackId, &r));
        ASSERT_EQ(r.w, w);
        ASSERT_EQ(r.h, h);
        int mismatches = 0, inked = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = static_cast<uint8_t*>(tex->GetPixelsAt(r.x + x, r.y + y));
                const uint32_t e = expected[size_t(y) * w + x];
                const uint32_t a = e >> 24, red = e & 0xFF;
                const uint32_t want = font == g_outline[1] ? a : red * a / 255;
                mismatches += p[0] != 255 || p[1] != 255 || p[2] != 255 || p[3] != want;
                inked += want > 0;
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(inked, 50);
    }
    EXPECT_TRUE(g_fill[0]->Flags & ImFontFlags_LockBakedSizes);
    EXPECT_TRUE(g_outline[1]->Flags & ImFontFlags_LockBakedSizes);
}

TEST_F(Primitives, ButtonIconsLiveInThePrivateUseAreaOfTheFillLayer) {
    EXPECT_EQ(IconText(0xE0B1), "\xEE\x82\xB1");
    EXPECT_EQ(IconText(U'A'), "A");
    EXPECT_EQ(IconText(0xE9), "\xC3\xA9");
    EXPECT_EQ(IconText(0x1F600), "\xF0\x9F\x98\x80");
    int icons = 0;
    for (char32_t code = 0xE0B1; code <= 0xE0BE; ++code)
        icons += g_fill[1]->GetFontBaked(60)->FindGlyphNoFallback(ImWchar(code)) != nullptr;
    EXPECT_GT(icons, 0);
    float end = 0.0f;
    const Shot shot = Render([&] { end = Icon(0xE0B1, 200, 200, 40); });
    EXPECT_GT(end, 200.0f);
    int x0, y0, x1, y1;
    ASSERT_TRUE(shot.Ink(x0, y0, x1, y1)) << "the icon shows in its own colours";
    EXPECT_GE(x0, 200 - 4);
    EXPECT_LE(x1, int(end) + 4);
    // The outline layer draws nothing for an icon.
    const Shot outline = Render([] {
        g_draw->AddText(g_outline[1], 40, g_view.P(200, 200), IM_COL32_WHITE, IconText(0xE0B1).c_str());
    });
    EXPECT_FALSE(outline.Ink(x0, y0, x1, y1));
}

TEST_F(Primitives, InterfaceTextHasItsShadowDownAndRight) {
    const Shot shot = Render([] { DrawUi("Shadowed words", 100, 100, 30, IM_COL32_WHITE, 0, 1e9f); });
    const Rgba shadow = OverBlack({40, 16, 0, 200});
    EXPECT_GT(shot.Count(0, 0, 1280, 720, {255, 255, 255, 255}, 3), 100);
    EXPECT_GT(shot.Count(0, 0, 1280, 720, shadow, 3), 30);
    // The shadow reaches one pixel further right and down than the text.
    int sx1 = 0, sy1 = 0, wx1 = 0, wy1 = 0;
    for (int y = 0; y < shot.h; ++y)
        for (int x = 0; x < shot.w; ++x) {
            const Rgba p = shot.At(x, y);
            if (p.r > 200 && p.g > 200 && p.b > 200) wx1 = std::max(wx1, x), wy1 = std::max(wy1, y);
            if (std::abs(p.r - shadow.r) <= 3 && std::abs(p.g - shadow.g) <= 3 && p.b <= 3)
                sx1 = std::max(sx1, x), sy1 = std::max(sy1, y);
        }
    EXPECT_GE(sx1, wx1 + 1);
    EXPECT_GE(sy1, wy1 + 1);
    // Shrunk to a limit without moving down.
    const float natural = ImGui::GetIO().FontDefault->CalcTextSizeA(30, FLT_MAX, 0, "Shadowed words").x;
    const Shot small = Render([&] { DrawUi("Shadowed words", 640, 100, 30, IM_COL32_WHITE, 1.0f, natural / 2); });
    int x0, y0, x1, y1;
    ASSERT_TRUE(small.Ink(x0, y0, x1, y1));
    EXPECT_NEAR(x1, 640 + 1.5, 3.0);
    EXPECT_NEAR(x1 - x0, natural / 2, 6.0);
    EXPECT_LT(y0, 100 + 10);
}

// The framed panel: mirrored corner quarters of the frame art, tinted, and the
// art's last rows stretched over the band between them.
TEST_F(Primitives, FramedPanelHasMirroredTintedCornersAndAMiddleBand) {
    ASSERT_NE(g_frame.view, nullptr);
    const ma::Image* art = ma::GetArt(ma::Art::MessageFrame);
    ASSERT_NE(art, nullptr);
    const Shot shot = Render([] { DrawFrame(400, 100, 1000, 540); });  // 440 high: quarters 96, band 248
    // Point symmetry of the four quarters.
    int differing = 0, compared = 0;
    for (int y = 100; y < 196; y += 3)
        for (int x = 400; x < 700; x += 3) {
            const Rgba a = shot.At(x, y);
            const Rgba b = shot.At(1000 - 1 - (x - 400), 540 - 1 - (y - 100));
            const Rgba c = shot.At(1000 - 1 - (x - 400), y);
            const Rgba d = shot.At(x, 540 - 1 - (y - 100));
            ++compared;
            differing += std::abs(a.r - b.r) > 6 || std::abs(a.r - c.r) > 6 || std::abs(a.r - d.r) > 6 ||
                         std::abs(a.g - b.g) > 6 || std::abs(a.b - c.b) > 6;
        }
    EXPECT_LT(differing, compared / 50);
    // Every band row is the stretched last rows of the art: the rows agree,
    // and in the edge piece they show the art's inner fill tinted.
    const uint32_t texel = art->px[size_t(art->h - 1) * art->w + art->w - 1];  // premultiplied
    const Rgba tint = {236, 222, 190, 230};
    const int a = int(texel >> 24);
    const Rgba expect = {int(texel & 0xFF) * tint.r / 255 * tint.a / 255, int((texel >> 8) & 0xFF) * tint.g / 255 * tint.a / 255,
                         int((texel >> 16) & 0xFF) * tint.b / 255 * tint.a / 255, 255};
    (void)a;
    for (int y : {200, 320, 430}) {
        const Rgba p = shot.At(690, y);
        EXPECT_NEAR(p.r, expect.r, 8) << y;
        EXPECT_NEAR(p.g, expect.g, 8) << y;
        EXPECT_NEAR(p.b, expect.b, 8) << y;
        for (int x = 410; x < 990; x += 7) {
            const Rgba q = shot.At(x, y), r = shot.At(x, 300);
            ASSERT_NEAR(q.r, r.r, 3) << x << "," << y;
            ASSERT_NEAR(q.g, r.g, 3) << x << "," << y;
        }
    }
    // A panel 150 high has quarters of 75 and no band; outside it stays black.
    const Shot low = Render([] { DrawFrame(400, 100, 1000, 250); });
    int x0, y0, x1, y1;
    ASSERT_TRUE(low.Ink(x0, y0, x1, y1));
    EXPECT_GE(x0, 399);
    EXPECT_LE(x1, 1001);
    EXPECT_GE(y0, 99);
    EXPECT_LE(y1, 251);
}

TEST_F(Primitives, StarBarFilledToThirtyFivePercent) {
    ASSERT_NE(g_star.view, nullptr);
    const float x = 866, y = 300;
    const Shot shot = Render([&] { DrawStars(x, y, 35, 100, TITLE); });
    // Bright pixels (the filled star in TITLE's fill) in each half of each cell.
    auto bright = [&](float x0, float x1) {
        int n = 0;
        for (int py = int(y + 3); py < int(y + 27); ++py)
            for (int px = int(std::ceil(x0)); px < int(x1); ++px) n += shot.At(px, py).g > 70;
        return n;
    };
    for (int i = 0; i < 10; ++i) {
        const float sx = x + i * 25;
        const int left = bright(sx + 1, sx + 11), right = bright(sx + 13, sx + 23);
        if (i < 3) {
            EXPECT_GT(left, 10) << "star " << i;
            EXPECT_GT(right, 10) << "star " << i;
        } else if (i == 3) {
            EXPECT_GT(left, 10) << "the fourth star is half filled";
            EXPECT_EQ(right, 0) << "and cut off at half its width";
        } else {
            EXPECT_EQ(left + right, 0) << "star " << i;
        }
    }
    // The empty stars are there too, dim.
    EXPECT_GT(shot.Count(int(x + 9 * 25), int(y), int(x + 10 * 25), int(y + 30), {0, 0, 0, 255}, 0), 0);
    int x0, y0, x1, y1;
    ASSERT_TRUE(shot.Ink(x0, y0, x1, y1));
    EXPECT_GT(x1, x + 9 * 25 + 10) << "the tenth (empty) star is drawn";
}

TEST_F(Primitives, PanelTitleHasTwoDividerOrnamentsWithAGapUnderItsCentre) {
    ASSERT_NE(g_dividerL.view, nullptr);
    ASSERT_NE(g_dividerR.view, nullptr);
    const Shot shot = Render([] { DrawPanelTitle("INSTALLATION"); });
    const float wl = g_dividerL.w * 18.0f / g_dividerL.h, wr = g_dividerR.w * 18.0f / g_dividerR.h;
    auto ink = [&](int x0, int x1) {
        int n = 0;
        for (int y = 70; y < 88; ++y)
            for (int x = x0; x < x1; ++x) {
                const Rgba p = shot.At(x, y);
                n += p.r + p.g + p.b > 12;
                // Tinted (70, 28, 0): never brighter than the tint.
                EXPECT_LE(p.r, 71);
                EXPECT_LE(p.g, 29);
                EXPECT_LE(p.b, 1);
            }
        return n;
    };
    EXPECT_GT(ink(int(851 - wl), 851), 20);
    EXPECT_GT(ink(867, int(867 + wr)), 20);
    EXPECT_EQ(ink(852, 866), 0);
    EXPECT_GT(shot.Count(700, 20, 1020, 70, Of(SELECTED.fill)), 100) << "the title in the large game font";
}

TEST_F(Primitives, WithoutArtThePrimitivesFallBack) {
    WithoutArt([] {
        for (char32_t code = 0xE0B1; code <= 0xE0BE; ++code) {
            EXPECT_EQ(g_fill[1]->GetFontBaked(60)->FindGlyphNoFallback(ImWchar(code)), nullptr);
            EXPECT_EQ(g_outline[1]->GetFontBaked(60)->FindGlyphNoFallback(ImWchar(code)), nullptr);
            EXPECT_EQ(g_ui->GetFontBaked(30)->FindGlyphNoFallback(ImWchar(code)), nullptr);
        }
        EXPECT_FALSE(g_fill[0]->Flags & ImFontFlags_LockBakedSizes);
        Shot shot = Render([] { EXPECT_EQ(Icon(0xE0B1, 200, 200, 40), 200.0f); });
        int x0, y0, x1, y1;
        EXPECT_FALSE(shot.Ink(x0, y0, x1, y1));

        // The outline layer is the same bold system font, covered by the fill.
        shot = Render([] { Draw(1, "HOME", 100, 100, 60, TITLE, 0, 1e9f); }, {128, 128, 128, 255});
        EXPECT_GT(shot.Count(0, 0, 1280, 720, Of(TITLE.fill), 6), 300);
        int dark = 0;
        for (int y = 0; y < shot.h; ++y)
            for (int x = 0; x < shot.w; ++x) dark += shot.At(x, y).r < 110;
        EXPECT_EQ(dark, 0);

        // The panel: a dark rounded rectangle with a light border.
        shot = Render([] { DrawFrame(400, 100, 1000, 540); });
        const Rgba fill = OverBlack({20, 8, 0, 225});
        EXPECT_EQ(shot.Count(600, 300, 800, 340, fill, 1), 200 * 40);
        EXPECT_GT(shot.Count(400, 300, 404, 340, OverBlack({236, 222, 190, 200}), 4), 40);
        EXPECT_EQ(shot.At(401, 101).r, 0) << "rounded corner";

        // The bar: ten dim cells, three and a half filled in the style colour.
        shot = Render([] { DrawStars(866, 300, 35, 100, TITLE); });
        const int filled = shot.Count(866, 312, 866 + 250, 320, Of(TITLE.fill), 1);
        EXPECT_GE(filled, (3 * 21 + 10) * 8);
        EXPECT_LE(filled, (3 * 21 + 11) * 8);
        EXPECT_EQ(shot.Count(866 + 4 * 25, 312, 866 + 10 * 25, 320, OverBlack({84, 42, 2, 120}), 1), 6 * 21 * 8);

        // The title alone, no ornaments.
        shot = Render([] { DrawPanelTitle("INSTALLATION"); });
        EXPECT_EQ(shot.Count(700, 70, 1020, 88, {0, 0, 0, 255}, 0), 320 * 18);
    });
}

} // namespace
