// The drawing surface's integer blending, Export, the separable scaler's tap
// lists, and the scaled-image cache.
#include "runtime/settings/menu_art_fonts_internal.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ma = settings::menu_art;

namespace {

uint32_t Px(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

ma::Image Solid(int w, int h, uint32_t pixel) {
    ma::Image image;
    image.w = w;
    image.h = h;
    image.px.assign(size_t(w) * size_t(h), pixel);
    return image;
}

// A 1 x 1 canvas holding exactly `pixel`: a blit with a white opaque tint onto
// a transparent canvas copies the word (for any pixel with colour or opaque).
ma::Canvas Exact(uint32_t pixel) {
    ma::Canvas canvas;
    canvas.Reset(1, 1);
    canvas.Blit(Solid(1, 1, pixel), 0, 0, {255, 255, 255, 255}, 0x40000000);
    return canvas;
}

uint32_t At(const ma::Canvas& c, int x, int y) { return c.Pixels()[size_t(y) * size_t(c.Width()) + size_t(x)]; }

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

} // namespace

TEST(Canvas, ResetClampsNegativeSizes) {
    ma::Canvas c;
    c.Reset(-5, 10);
    EXPECT_EQ(c.Width(), 0);
    EXPECT_EQ(c.Height(), 10);
    EXPECT_TRUE(c.Pixels().empty());
    c.Fill(-10, -10, 100, 100, {255, 0, 0, 255});  // nothing to draw on, nothing breaks
    c.Reset(3, 2);
    ASSERT_EQ(c.Pixels().size(), 6u);
    for (uint32_t p : c.Pixels()) EXPECT_EQ(p, 0u);
}

TEST(Canvas, FillBlendsWithRoundedDestinationTerm) {
    struct Case {
        const char* what;
        uint32_t dest;
        ma::Color color;
        uint32_t expected;
    };
    const Case cases[] = {
        {"opaque over transparent", 0, {255, 0, 0, 255}, Px(255, 0, 0, 255)},
        {"half white over transparent", 0, {255, 255, 255, 128}, Px(128, 128, 128, 128)},
        // R = 200*128/255 = 100 (down); B = (255*127 + 127)/255 = 127 (nearest); A = 128 + 127
        {"half red over opaque blue", Px(0, 0, 255, 255), {200, 0, 0, 128}, Px(100, 0, 127, 255)},
        {"alpha 0 leaves the row", Px(10, 20, 30, 40), {255, 255, 255, 0}, Px(10, 20, 30, 40)},
        // 255*1/255 = 1 ; (255*254+127)/255 = 254.5 -> 254
        {"alpha 1 over white", Px(255, 255, 255, 255), {255, 255, 255, 1}, Px(255, 255, 255, 255)},
        {"sum capped at 255", Px(255, 255, 255, 255), {255, 255, 255, 200}, Px(255, 255, 255, 255)},
    };
    for (const Case& c : cases) {
        ma::Canvas canvas = Exact(c.dest);
        canvas.Fill(0, 0, 1, 1, c.color);
        EXPECT_EQ(Hex(At(canvas, 0, 0)), Hex(c.expected)) << c.what;
    }
}

TEST(Canvas, GradientRowsAndClipping) {
    ma::Canvas c;
    c.Reset(4, 6);
    // y1 - y0 = 3: t = 0, 0.5, 1; 127.5 rounds away from zero.
    c.FillGradient(1, 0, 3, 3, {0, 0, 0, 255}, {255, 100, 0, 255});
    EXPECT_EQ(Hex(At(c, 1, 0)), Hex(Px(0, 0, 0, 255)));
    EXPECT_EQ(Hex(At(c, 2, 1)), Hex(Px(128, 50, 0, 255)));
    EXPECT_EQ(Hex(At(c, 1, 2)), Hex(Px(255, 100, 0, 255)));
    EXPECT_EQ(At(c, 0, 1), 0u);  // left of the rectangle
    EXPECT_EQ(At(c, 3, 1), 0u);  // x1 is exclusive
    // y1 - y0 = 1 uses the top colour.
    c.FillGradient(0, 3, 4, 4, {10, 20, 30, 255}, {200, 200, 200, 255});
    EXPECT_EQ(Hex(At(c, 0, 3)), Hex(Px(10, 20, 30, 255)));
    // A rectangle reaching far outside the canvas is clipped, and the row's t
    // still counts from the rectangle's own top.
    c.FillGradient(-100, 4, 100, 104, {0, 0, 0, 255}, {0, 0, 0, 255});
    EXPECT_EQ(Hex(At(c, 3, 5)), Hex(Px(0, 0, 0, 255)));
    c.FillGradient(2, 2, 2, 5, {255, 0, 0, 255}, {255, 0, 0, 255});  // empty
    c.FillGradient(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, {1, 2, 3, 0}, {1, 2, 3, 0});
    EXPECT_EQ(Hex(At(c, 2, 2)), Hex(Px(255, 100, 0, 255)));
}

TEST(Canvas, BlitTintAndSkips) {
    struct Case {
        const char* what;
        uint32_t dest;
        uint32_t src;
        ma::Color tint;
        uint32_t expected;
    };
    const uint32_t white = Px(255, 255, 255, 255);
    const Case cases[] = {
        {"tint alpha 0 changes nothing", white, Px(0, 0, 0, 255), {255, 255, 255, 0}, white},
        {"opaque source, white tint replaces", white, Px(1, 2, 3, 255), {255, 255, 255, 255}, Px(1, 2, 3, 255)},
        // (200*128/255)=100, *255/255 = 100
        {"tint multiplies colour", 0, Px(200, 100, 50, 255), {128, 255, 0, 255}, Px(100, 100, 0, 255)},
        // A = 1*200 < 255 with black colour: kept
        {"faint black is skipped", white, Px(0, 0, 0, 1), {255, 255, 255, 200}, white},
        // A = 2*255 -> a = 2: (255*253 + 127)/255 = 253
        {"faint black darkens once A reaches 255", white, Px(0, 0, 0, 2), {255, 255, 255, 255},
         Px(253, 253, 253, 255)},
        {"source alpha 0 is untouched", white, Px(9, 9, 9, 0), {255, 255, 255, 255}, white},
        // r = 64*255/255*128/255 = 32 ; a = 128*128/255 = 64 ; (0*191+127)/255 = 0
        {"half tint alpha on half source", 0, Px(64, 0, 0, 128), {255, 255, 255, 128}, Px(32, 0, 0, 64)},
    };
    for (const Case& c : cases) {
        ma::Canvas canvas = Exact(c.dest);
        canvas.Blit(Solid(1, 1, c.src), 0, 0, c.tint, 0x40000000);
        EXPECT_EQ(Hex(At(canvas, 0, 0)), Hex(c.expected)) << c.what;
    }
}

TEST(Canvas, BlitClipsToCanvasAndRightLimit) {
    const uint32_t red = Px(255, 0, 0, 255);
    ma::Image src = Solid(4, 4, red);
    src.px[0] = Px(0, 0, 255, 255);  // mark the top-left source pixel
    ma::Canvas c;
    c.Reset(5, 5);
    c.Blit(src, -1, -1, {255, 255, 255, 255}, 0x40000000);
    EXPECT_EQ(At(c, 0, 0), red);  // the marked pixel fell outside
    EXPECT_EQ(At(c, 2, 2), red);
    EXPECT_EQ(At(c, 3, 3), 0u);
    c.Reset(5, 5);
    c.Blit(src, 1, 0, {255, 255, 255, 255}, 3);  // columns 1 and 2 only
    EXPECT_EQ(At(c, 1, 0), Px(0, 0, 255, 255));
    EXPECT_EQ(At(c, 2, 0), red);
    EXPECT_EQ(At(c, 3, 0), 0u);
    c.Reset(5, 5);
    c.Blit(src, INT32_MAX, INT32_MAX, {255, 255, 255, 255}, 0x40000000);
    c.Blit(src, INT32_MIN, INT32_MIN, {255, 255, 255, 255}, 0x40000000);
    c.Blit(ma::Image{}, 0, 0, {255, 255, 255, 255}, 0x40000000);
    for (uint32_t p : c.Pixels()) EXPECT_EQ(p, 0u);
}

TEST(Canvas, GlyphAlphaRampPicksOutlineAndFill) {
    const ma::TextStyle style{{200, 180, 160, 255}, {10, 20, 30, 255}, 1.0f};
    struct Case {
        const char* what;
        uint32_t texel;
        float opacity;
        uint32_t expected;
    };
    const Case cases[] = {
        {"alpha 105: outline at full coverage", Px(99, 99, 99, 105), 1, Px(10, 20, 30, 255)},
        {"alpha 250: fill", Px(0, 0, 0, 250), 1, Px(200, 180, 160, 255)},
        {"alpha 255: fill", Px(0, 0, 0, 255), 1, Px(200, 180, 160, 255)},
        // coverage 52/105: a = round(126.29) = 126; r = round(4.952) = 5, g = round(9.905) = 10
        {"alpha 52: outline edge", Px(0, 0, 0, 52), 1, Px(5, 10, 15, 126)},
        // t = 0.5: colour (105,100,95), D = 1
        {"alpha 177.5 halfway", Px(0, 0, 0, 178), 1, Px(106, 101, 95, 255)},
        {"opacity halves", Px(0, 0, 0, 255), 0.5f, Px(100, 90, 80, 128)},
        {"opacity above 1 is held at 1", Px(0, 0, 0, 255), 7.0f, Px(200, 180, 160, 255)},
        {"opacity not a number draws nothing", Px(0, 0, 0, 255), std::nanf(""), 0},
        {"alpha 0 draws nothing", Px(255, 255, 255, 0), 1, 0},
    };
    for (const Case& c : cases) {
        ma::Canvas canvas;
        canvas.Reset(1, 1);
        ma::TextStyle s = style;
        s.opacity = c.opacity;
        canvas.BlitGlyph(Solid(1, 1, c.texel), 0, 0, s);
        EXPECT_EQ(Hex(At(canvas, 0, 0)), Hex(c.expected)) << c.what;
    }
}

TEST(Canvas, GlowUsesBrightnessAsAlpha) {
    ma::Canvas c;
    c.Reset(3, 1);
    ma::Image src = Solid(3, 1, Px(90, 90, 90, 255));
    src.px[1] = Px(0, 0, 2, 255);  // (0+0+2)/3 = 0: below the threshold
    src.px[2] = Px(3, 3, 3, 255);  // L = 3*85 = 255: a = 1
    c.BlitGlow(src, 0, 0, {255, 0, 0, 255});
    EXPECT_EQ(Hex(At(c, 0, 0)), Hex(Px(90, 0, 0, 90)));
    EXPECT_EQ(At(c, 1, 0), 0u);
    c.Reset(3, 1);
    c.BlitGlow(src, 0, 0, {255, 0, 0, 85});
    EXPECT_EQ(Hex(At(c, 2, 0)), Hex(Px(1, 0, 0, 1)));
}

TEST(Canvas, ExportUnpremultipliesRoundingToNearest) {
    struct Case {
        uint32_t premultiplied;
        uint32_t straight;
    };
    const Case cases[] = {
        {Px(64, 0, 0, 128), Px(128, 0, 0, 128)},   // (64*255 + 64)/128 = 128
        {Px(10, 20, 30, 255), Px(10, 20, 30, 255)},
        {Px(1, 0, 0, 3), Px(85, 0, 0, 3)},          // (255 + 1)/3 = 85
        {Px(2, 0, 0, 3), Px(170, 0, 0, 3)},         // (510 + 1)/3 = 170
        {Px(200, 0, 0, 100), Px(255, 0, 0, 100)},   // held at 255
    };
    for (const Case& c : cases) {
        const ma::Canvas canvas = Exact(c.premultiplied);
        ASSERT_EQ(Hex(At(canvas, 0, 0)), Hex(c.premultiplied));
        std::vector<uint32_t> out{1, 2, 3};
        canvas.Export(out);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(Hex(out[0]), Hex(c.straight));
    }
    ma::Canvas empty;
    empty.Reset(2, 1);
    std::vector<uint32_t> out;
    empty.Export(out);
    EXPECT_EQ(out, (std::vector<uint32_t>{0, 0}));
}
