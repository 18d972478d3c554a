// The resampler's tap lists and the scaled-image cache.
#include "runtime/settings/menu_art_fonts_internal.h"

#include <gtest/gtest.h>

namespace ma = settings::menu_art;

namespace {

using Taps = std::vector<std::pair<int, float>>;

uint32_t Px(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

ma::Image Row(std::initializer_list<uint32_t> pixels) {
    ma::Image image;
    image.w = int(pixels.size());
    image.h = 1;
    image.px = pixels;
    return image;
}

void ExpectTaps(const std::vector<Taps>& got, const std::vector<Taps>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].size(), want[i].size()) << what << " list " << i;
        for (size_t t = 0; t < want[i].size(); ++t) {
            EXPECT_EQ(got[i][t].first, want[i][t].first) << what << " list " << i << " tap " << t;
            EXPECT_NEAR(got[i][t].second, want[i][t].second, 1e-6) << what << " list " << i << " tap " << t;
        }
    }
}

} // namespace

TEST(Weights1D, EdgeCases) {
    struct Case {
        const char* what;
        int sn, dn;
        std::vector<Taps> want;
    };
    const float third = 1.0f / 3.0f;
    const std::vector<Case> cases = {
        {"nothing to read", 0, 3, {{}, {}, {}}},
        {"negative source", -4, 2, {{}, {}}},
        {"no destination", 5, 0, {}},
        {"equal sizes: identity", 3, 3, {{{0, 1}}, {{1, 1}}, {{2, 1}}}},
        {"4 to 2: pairs of halves", 4, 2, {{{0, 0.5f}, {1, 0.5f}}, {{2, 0.5f}, {3, 0.5f}}}},
        {"3 to 2: overlapping boxes", 3, 2, {{{0, 2 * third}, {1, third}}, {{1, third}, {2, 2 * third}}}},
        {"1 to 4: both taps clamp to 0", 1, 4,
         {{{0, 0.375f}, {0, 0.625f}}, {{0, 0.125f}, {0, 0.875f}}, {{0, 0.875f}, {0, 0.125f}},
          {{0, 0.625f}, {0, 0.375f}}}},
        {"2 to 4: linear with half-pixel centres", 2, 4,
         {{{0, 0.25f}, {0, 0.75f}}, {{0, 0.75f}, {1, 0.25f}}, {{0, 0.25f}, {1, 0.75f}}, {{1, 0.75f}, {1, 0.25f}}}},
    };
    for (const Case& c : cases) ExpectTaps(ma::Weights1D(c.sn, c.dn), c.want, c.what);
    // Every list of a reduction or enlargement sums to 1.
    for (auto [sn, dn] : {std::pair{7, 3}, {3, 7}, {1024, 1000}, {5, 5}}) {
        for (const Taps& list : ma::Weights1D(sn, dn)) {
            float sum = 0;
            for (const auto& tap : list) sum += tap.second;
            EXPECT_NEAR(sum, 1.0f, 1e-4) << sn << " to " << dn;
        }
    }
}

TEST(Scaled, ResamplesPremultipliedPixels) {
    // A 1-pixel column to 8 columns copies it everywhere.
    const ma::Image one = Row({Px(40, 80, 120, 200)});
    const ma::Image wide = ma::Resample(one, 0, 0, 1, 1, 8, 1, false, false);
    ASSERT_EQ(wide.w, 8);
    for (uint32_t p : wide.px) EXPECT_EQ(p, Px(40, 80, 120, 200));

    // 4 columns to 2 average 0-1 and 2-3; halves round away from zero.
    const ma::Image four = Row({Px(0, 0, 0, 255), Px(101, 0, 0, 255), Px(200, 10, 0, 255), Px(40, 20, 0, 255)});
    const ma::Image two = ma::Resample(four, 0, 0, 4, 1, 2, 1, false, false);
    EXPECT_EQ(two.px, (std::vector<uint32_t>{Px(51, 0, 0, 255), Px(120, 15, 0, 255)}));

    // Mirroring.
    EXPECT_EQ(ma::Resample(four, 0, 0, 4, 1, 4, 1, true, false).px,
              (std::vector<uint32_t>{four.px[3], four.px[2], four.px[1], four.px[0]}));
    ma::Image column;
    column.w = 1;
    column.h = 3;
    column.px = {1 << 24, 2 << 24, 3 << 24};
    EXPECT_EQ(ma::Resample(column, 0, 0, 1, 3, 1, 3, false, true).px,
              (std::vector<uint32_t>{3u << 24, 2u << 24, 1u << 24}));

    // Colours never exceed alpha: a premultiplied-invalid source is held.
    const ma::Image bad = Row({Px(250, 0, 0, 10)});
    EXPECT_EQ(ma::Resample(bad, 0, 0, 1, 1, 2, 1, false, false).px[0], Px(10, 0, 0, 10));
}

TEST(Scaled, SourceRectangleIsCutToTheImage) {
    const ma::Image four = Row({Px(1, 0, 0, 255), Px(2, 0, 0, 255), Px(3, 0, 0, 255), Px(4, 0, 0, 255)});
    // sx = 2, sw = 10: only columns 2 and 3 remain.
    EXPECT_EQ(ma::Resample(four, 2, 0, 10, 1, 2, 1, false, false).px,
              (std::vector<uint32_t>{Px(3, 0, 0, 255), Px(4, 0, 0, 255)}));
    // A negative origin is clamped to 0 (width kept as given, cut to the image).
    EXPECT_EQ(ma::Resample(four, -5, 0, 1, 1, 1, 1, false, false).px, (std::vector<uint32_t>{Px(1, 0, 0, 255)}));
    struct Empty {
        const char* what;
        int sx, sy, sw, sh, dw, dh;
    };
    const Empty empties[] = {
        {"wholly right of the image", 10, 0, 4, 1, 4, 1}, {"wholly below", 0, 5, 4, 1, 4, 1},
        {"zero width", 0, 0, 0, 1, 4, 1},                 {"dw 0", 0, 0, 4, 1, 0, 10},
        {"dh negative", 0, 0, 4, 1, 4, -1},               {"absurdly large", 0, 0, 4, 1, 1 << 30, 1 << 30},
    };
    for (const Empty& e : empties) {
        const ma::Image out = ma::Resample(four, e.sx, e.sy, e.sw, e.sh, e.dw, e.dh, false, false);
        EXPECT_EQ(out.w, 0) << e.what;
        EXPECT_TRUE(out.px.empty()) << e.what;
    }
}

TEST(Scaled, CachesEveryRequestUntilCleared) {
    ma::ClearCache();
    ma::Image image;
    image.w = 4;
    image.h = 4;
    image.px.assign(16, Px(10, 10, 10, 255));
    const ma::Image& a = ma::Scaled(image, 0, 0, 4, 4, 2, 2, false, false);
    const ma::Image& b = ma::Scaled(image, 0, 0, 4, 4, 2, 2, false, false);
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(ma::CacheSize(), 1u);
    // The whole-image form is the same request.
    EXPECT_EQ(&ma::Scaled(image, 2, 2, false, false), &a);
    // Flags are part of the key.
    EXPECT_NE(&ma::Scaled(image, 2, 2, true, false), &a);
    EXPECT_EQ(ma::CacheSize(), 2u);
    // Degenerate requests are cached as empty images.
    const ma::Image& none = ma::Scaled(image, 0, 0, 4, 4, 0, 10, false, false);
    EXPECT_EQ(none.w, 0);
    EXPECT_EQ(ma::CacheSize(), 3u);
    EXPECT_EQ(&ma::Scaled(image, 0, 0, 4, 4, 0, 10, false, false), &none);
    EXPECT_EQ(ma::CacheSize(), 3u);
    ma::ClearCache();
    EXPECT_EQ(ma::CacheSize(), 0u);
    const ma::Image& again = ma::Scaled(image, 2, 2, false, false);
    EXPECT_EQ(again.w, 2);
    EXPECT_EQ(ma::CacheSize(), 1u);
    ma::ClearCache();
}
