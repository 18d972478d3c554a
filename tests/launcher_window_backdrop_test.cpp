// The window-sized background picture and the texture helpers: the plain
// gradient without art, the composition with the synthetic dump's art against
// a straightforward model of the recipe (1 x 1, a tall window, an ordinary
// one), un-premultiplying, and texture creation in a software renderer.
#include "launcher/screenshot.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/platform/image_posix.h"
#include "runtime/settings/menu_art_fonts.h"
#include "tests/support/synthetic_dump.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <cmath>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

uint32_t Word(int r, int g, int b, int a) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(a) << 24; }

// A software renderer on a surface stands in for the window's renderer.
class SoftwareRenderer {
public:
    SoftwareRenderer(int w = 64, int h = 64) {
        m_surface = SDL_CreateSurface(w, h, SDL_PIXELFORMAT_RGBA32);
        if (m_surface) m_renderer = SDL_CreateSoftwareRenderer(m_surface);
        g_renderer = m_renderer;
    }
    ~SoftwareRenderer() {
        g_renderer = nullptr;
        if (m_renderer) SDL_DestroyRenderer(m_renderer);
        if (m_surface) SDL_DestroySurface(m_surface);
    }
    SDL_Renderer* get() const { return m_renderer; }

private:
    SDL_Surface* m_surface = nullptr;
    SDL_Renderer* m_renderer = nullptr;
};

// ---- before any art is loaded (this suite runs first) ------------------------

TEST(BackdropWithoutArt, IsThePlainGradient) {
    ASSERT_EQ(ma::GetArt(ma::Art::BackdropWeave), nullptr);
    std::vector<uint32_t> one = ComposeBackdrop(1, 1, 1.0f / 720);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], Word(255, 204, 66, 255)) << "t = 0: the top colour";

    const std::vector<uint32_t> two = ComposeBackdrop(3, 2, 0.0f);
    ASSERT_EQ(two.size(), 6u);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(two[x], Word(255, 204, 66, 255));
        EXPECT_EQ(two[3 + x], Word(241, 146, 32, 255));
    }

    const std::vector<uint32_t> pic = ComposeBackdrop(1280, 720, 1.0f);
    ASSERT_EQ(pic.size(), size_t(1280) * 720);
    for (int y : {0, 1, 359, 360, 718, 719}) {
        const float t = float(y) / 719.0f;
        const uint32_t want = Word(int(255 - 14 * t), int(204 - 58 * t), int(66 - 34 * t), 255);
        EXPECT_EQ(pic[size_t(y) * 1280], want) << "row " << y;
        EXPECT_EQ(pic[size_t(y) * 1280 + 1279], want) << "row " << y;
    }
    EXPECT_TRUE(ComposeBackdrop(0, 10, 1.0f).empty());
    EXPECT_TRUE(ComposeBackdrop(10, -1, 1.0f).empty());
}

TEST(BackdropWithoutArt, ArtTexturesOfMissingImagesAreEmpty) {
    SoftwareRenderer renderer;
    const Texture t = ArtTexture(ma::Art::TitleLogo);
    EXPECT_EQ(t.view, nullptr);
    EXPECT_EQ(t.w, 0);
    EXPECT_EQ(t.h, 0);
}

TEST(Straight, UndoesThePremultiplicationRoundingDown) {
    ma::Image image;
    image.w = 5, image.h = 1;
    image.px = {Word(100, 50, 0, 200), Word(9, 9, 9, 0), Word(255, 255, 255, 255), Word(1, 2, 3, 3),
                Word(200, 0, 0, 100)};
    const std::vector<uint32_t> s = Straight(image);
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0], Word(127, 63, 0, 200));
    EXPECT_EQ(s[1], 0u) << "alpha 0 is a fully zero pixel";
    EXPECT_EQ(s[2], Word(255, 255, 255, 255));
    EXPECT_EQ(s[3], Word(85, 170, 255, 3));
    EXPECT_EQ(s[4], Word(255, 0, 0, 100)) << "colours above the alpha are capped";
    EXPECT_TRUE(Straight(ma::Image()).empty());
}

TEST(MakeTexture, NeedsPixelsAndASizeAndIsBlendedAndLinear) {
    const uint32_t px[4] = {Word(255, 0, 0, 255), Word(0, 255, 0, 128), Word(0, 0, 255, 255), 0};
    EXPECT_EQ(MakeTexture(px, 2, 2), nullptr) << "no renderer";
    SoftwareRenderer renderer;
    ASSERT_NE(renderer.get(), nullptr);
    EXPECT_EQ(MakeTexture(px, 0, 2), nullptr);
    EXPECT_EQ(MakeTexture(px, 2, 0), nullptr);
    EXPECT_EQ(MakeTexture(px, -1, 2), nullptr);
    EXPECT_EQ(MakeTexture(nullptr, 2, 2), nullptr);

    SDL_Texture* t = MakeTexture(px, 2, 2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->format, SDL_PIXELFORMAT_ABGR8888);
    SDL_BlendMode blend = SDL_BLENDMODE_NONE;
    SDL_GetTextureBlendMode(t, &blend);
    EXPECT_EQ(blend, SDL_BLENDMODE_BLEND);
    SDL_ScaleMode scale = SDL_SCALEMODE_NEAREST;
    SDL_GetTextureScaleMode(t, &scale);
    EXPECT_EQ(scale, SDL_SCALEMODE_LINEAR);
    // Drawn 1:1 over black, the straight pixels come back blended.
    SDL_SetRenderDrawColor(renderer.get(), 0, 0, 0, 255);
    SDL_RenderClear(renderer.get());
    const SDL_FRect dst = {0, 0, 2, 2};
    SDL_SetTextureScaleMode(t, SDL_SCALEMODE_NEAREST);
    SDL_RenderTexture(renderer.get(), t, nullptr, &dst);
    SDL_Surface* read = SDL_RenderReadPixels(renderer.get(), nullptr);
    ASSERT_NE(read, nullptr);
    SDL_Surface* rgba = SDL_ConvertSurface(read, SDL_PIXELFORMAT_RGBA32);
    SDL_DestroySurface(read);
    ASSERT_NE(rgba, nullptr);
    const uint8_t* p = static_cast<const uint8_t*>(rgba->pixels);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_NEAR(p[5], 128, 2);
    const uint8_t* row1 = p + rgba->pitch;
    EXPECT_EQ(row1[2], 255);
    EXPECT_EQ(row1[4] + row1[5] + row1[6], 0);
    SDL_DestroySurface(rgba);

    ReleaseTexture(t);
    EXPECT_EQ(t, nullptr);
    ReleaseTexture(t);  // twice is harmless
    EXPECT_EQ(t, nullptr);
}

TEST(SaveScreenshot, WritesTheTargetOpaqueWhateverAlphaItHolds) {
    testsupport::TempDir tmp("save-shot");
    EXPECT_FALSE(SaveScreenshot(tmp / "none.png")) << "no renderer";
    SoftwareRenderer renderer(7, 3);
    ASSERT_NE(renderer.get(), nullptr);
    SDL_SetRenderDrawBlendMode(renderer.get(), SDL_BLENDMODE_NONE);
    SDL_SetRenderDrawColor(renderer.get(), 10, 20, 30, 0);
    SDL_RenderClear(renderer.get());
    SDL_SetRenderDrawColor(renderer.get(), 200, 100, 50, 77);
    SDL_RenderPoint(renderer.get(), 6, 2);
    const fs::path file = tmp / "shot.png";
    ASSERT_TRUE(SaveScreenshot(file));
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(plat::DecodePng(bytes.data(), bytes.size(), w, h, rgba));
    ASSERT_EQ(w, 7);
    ASSERT_EQ(h, 3);
    EXPECT_EQ(rgba[0], 10);
    EXPECT_EQ(rgba[1], 20);
    EXPECT_EQ(rgba[2], 30);
    const uint8_t* last = &rgba[(2 * 7 + 6) * 4];
    EXPECT_EQ(last[0], 200);
    EXPECT_EQ(last[1], 100);
    EXPECT_EQ(last[2], 50);
    for (size_t i = 3; i < rgba.size(); i += 4) EXPECT_EQ(rgba[i], 255);
    // A folder that cannot exist (its parent is a file): false, nothing written.
    std::ofstream(tmp / "file") << "x";
    EXPECT_FALSE(SaveScreenshot(tmp / "file" / "shot.png"));
}

// ---- with the synthetic dump's art --------------------------------------------

// The recipe, pixel by pixel, in the plainest form.
std::vector<uint32_t> Model(int W, int H, float s) {
    auto lum = [](uint32_t p) { return float(p & 0xFF) / 255.0f; };
    std::vector<float> rgb(size_t(W) * H * 3);
    for (int y = 0; y < H; ++y) {
        const float t = float(y) / float(std::max(H - 1, 1));
        for (int x = 0; x < W; ++x) {
            float* c = &rgb[(size_t(y) * W + x) * 3];
            c[0] = 255 - 14 * t, c[1] = 204 - 58 * t, c[2] = 66 - 34 * t;
        }
    }
    const ma::Image* weave = ma::GetArt(ma::Art::BackdropWeave);
    const int tile = std::max(16L, std::lround(256 * s));
    const ma::Image& w = ma::Scaled(*weave, tile, tile, false, false);
    double sum = 0;
    for (uint32_t p : w.px) sum += lum(p);
    const float mean = float(sum / std::max<size_t>(w.px.size(), 1));
    const ma::Image& fold = ma::Scaled(*ma::GetArt(ma::Art::BackdropFold), W, H, false, false);
    const ma::Image& light = ma::Scaled(*ma::GetArt(ma::Art::LightMap), W, H, false, false);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float* c = &rgb[(size_t(y) * W + x) * 3];
            const float k = (lum(w.px[size_t(y % tile) * tile + x % tile]) - mean) * 1.1f + 1;
            for (int i = 0; i < 3; ++i) c[i] *= k;
            const float v = lum(fold.px[size_t(y) * W + x]);
            const float kf = v * 0.3f + 0.86f;
            c[0] = c[0] * kf + 40 * v, c[1] = c[1] * kf + 30 * v, c[2] = c[2] * kf;
            const float kl = 1.1f - 0.34f * lum(light.px[size_t(y) * W + x]);
            for (int i = 0; i < 3; ++i) c[i] *= kl;
        }
    const int size = int(std::lround(H * 0.62f));
    for (int bottom = 0; bottom < 2; ++bottom) {
        const ma::Image* leaf = ma::GetArt(bottom ? ma::Art::FoliageBottom : ma::Art::FoliageTop);
        for (int right = 0; right < 2; ++right) {
            const ma::Image& copy = ma::Scaled(*leaf, size, size, right == 1, false);
            const int x0 = right ? W - size : 0, y0 = bottom ? H - size : 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const int wx = x0 + x, wy = y0 + y;
                    if (wx < 0 || wx >= W || wy < 0 || wy >= H) continue;
                    const float a = float(copy.px[size_t(y) * size + x] >> 24) / 255.0f * 0.36f;
                    float* c = &rgb[(size_t(wy) * W + wx) * 3];
                    const float target[3] = {196, 92, 12};
                    for (int i = 0; i < 3; ++i) c[i] = c[i] + (target[i] - c[i]) * a;
                }
        }
    }
    std::vector<uint32_t> out(size_t(W) * H);
    for (size_t i = 0; i < out.size(); ++i) {
        int v[3];
        for (int c = 0; c < 3; ++c) v[c] = int(std::min(std::max(rgb[i * 3 + c], 0.0f), 255.0f));
        out[i] = Word(v[0], v[1], v[2], 255);
    }
    return out;
}

class BackdropWithArt : public ::testing::Test {
protected:
    static testsupport::TempDir* s_tmp;
    static void SetUpTestSuite() {
        s_tmp = new testsupport::TempDir("backdrop");
        std::string error;
        const fs::path dump = s_tmp->path() / "dump";
        if (!testsupport::WriteSyntheticDump(dump, error)) {
            ADD_FAILURE() << error;
            return;
        }
        testsupport::MountGame(dump);
        ma::StartLoading();
        ma::Ready(20000);
    }
    static void TearDownTestSuite() {
        delete s_tmp;
        s_tmp = nullptr;
    }
    void SetUp() override {
        for (ma::Art art : {ma::Art::BackdropWeave, ma::Art::BackdropFold, ma::Art::LightMap, ma::Art::FoliageTop,
                            ma::Art::FoliageBottom})
            if (!ma::GetArt(art)) GTEST_SKIP() << "the dump's background art did not load";
    }
    static int Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        if (a.size() != b.size()) return -1;
        int n = 0;
        for (size_t i = 0; i < a.size(); ++i)
            for (int c = 0; c < 32; c += 8) n += std::abs(int((a[i] >> c) & 0xFF) - int((b[i] >> c) & 0xFF)) > 1;
        return n;
    }
};
testsupport::TempDir* BackdropWithArt::s_tmp = nullptr;

TEST_F(BackdropWithArt, FollowsTheRecipeForTinyTallAndOrdinaryWindows) {
    const struct {
        int w, h;
    } SIZES[] = {{1, 1}, {64, 1000}, {300, 169}, {2, 2}};
    for (const auto& size : SIZES) {
        const float s = std::min(size.w / 1280.0f, size.h / 720.0f);
        const std::vector<uint32_t> pic = ComposeBackdrop(size.w, size.h, s);
        EXPECT_EQ(Differences(pic, Model(size.w, size.h, s)), 0) << size.w << "x" << size.h;
        ma::ClearCache();
    }
}

TEST_F(BackdropWithArt, TheArtChangesTheGradientAndEveryPixelIsOpaque) {
    const std::vector<uint32_t> pic = ComposeBackdrop(640, 360, 0.5f);
    int plain = 0;
    for (int y = 0; y < 360; ++y) {
        const float t = float(y) / 359.0f;
        const uint32_t gradient = Word(int(255 - 14 * t), int(204 - 58 * t), int(66 - 34 * t), 255);
        for (int x = 0; x < 640; ++x) {
            const uint32_t p = pic[size_t(y) * 640 + x];
            ASSERT_EQ(p >> 24, 255u);
            plain += p == gradient;
        }
    }
    EXPECT_LT(plain, 640 * 360 / 20);
    ma::ClearCache();
}

TEST_F(BackdropWithArt, ArtTexturesCarryTheImageSize) {
    SoftwareRenderer renderer;
    const ma::Image* star = ma::GetArt(ma::Art::StarFull);
    ASSERT_NE(star, nullptr);
    const Texture t = ArtTexture(ma::Art::StarFull);
    ASSERT_NE(t.view, nullptr);
    EXPECT_EQ(t.w, star->w);
    EXPECT_EQ(t.h, star->h);
    float w = 0, h = 0;
    SDL_GetTextureSize(t.view, &w, &h);
    EXPECT_EQ(int(w), star->w);
    EXPECT_EQ(int(h), star->h);
}

} // namespace
