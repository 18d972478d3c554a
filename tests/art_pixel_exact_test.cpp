// The fast paths of the art pipeline against the plain arithmetic they
// replace: premultiplication over every channel and alpha, the resampler
// against a direct two-pass model (random images, sizes, source rectangles
// and mirrorings, bit for bit), mirrored requests served from the cache, and
// the eight-bytes-at-a-time CRC against the bit-by-bit one.
#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace ma = settings::menu_art;
namespace lf = settings::language_font;

namespace {

// The resampler written out directly: a full horizontal pass into floats,
// then the vertical pass, each sum taken in tap order from zero.
ma::Image ModelResample(const ma::Image& image, int sx, int sy, int sw, int sh, int dw, int dh, bool flipX,
                        bool flipY) {
    ma::Image out;
    const int x = std::clamp(sx, 0, image.w), width = std::clamp(sw, 0, image.w - x);
    const int y = std::clamp(sy, 0, image.h), height = std::clamp(sh, 0, image.h - y);
    if (dw <= 0 || dh <= 0 || width <= 0 || height <= 0) return out;
    const auto cols = ma::Weights1D(width, dw);
    const auto rows = ma::Weights1D(height, dh);
    std::vector<float> mid(size_t(height) * dw * 4);
    for (int r = 0; r < height; ++r) {
        for (int j = 0; j < dw; ++j) {
            for (int c = 0; c < 4; ++c) {
                float acc = 0.0f;
                for (const auto& [index, weight] : cols[size_t(j)]) {
                    const uint32_t p = image.px[size_t(y + r) * image.w + size_t(x + index)];
                    acc += weight * float((p >> (8 * c)) & 0xFF);
                }
                mid[(size_t(r) * dw + j) * 4 + c] = acc;
            }
        }
    }
    out.w = dw;
    out.h = dh;
    out.px.assign(size_t(dw) * dh, 0);
    for (int i = 0; i < dh; ++i) {
        for (int j = 0; j < dw; ++j) {
            float acc[4] = {0, 0, 0, 0};
            for (const auto& [index, weight] : rows[size_t(i)]) {
                for (int c = 0; c < 4; ++c) acc[c] += weight * mid[(size_t(index) * dw + j) * 4 + c];
            }
            auto round = [](float v, uint32_t hi) {
                return uint32_t(std::clamp(std::lround(v), 0L, long(hi)));
            };
            const uint32_t A = round(acc[3], 255);
            const uint32_t word = round(acc[0], A) | round(acc[1], A) << 8 | round(acc[2], A) << 16 | A << 24;
            out.px[size_t(flipY ? dh - 1 - i : i) * dw + size_t(flipX ? dw - 1 - j : j)] = word;
        }
    }
    return out;
}

ma::Image RandomImage(std::mt19937& rng, int w, int h) {
    ma::Image image;
    image.w = w;
    image.h = h;
    image.px.resize(size_t(w) * h);
    for (uint32_t& p : image.px) {
        const uint32_t a = rng() % 3 == 0 ? (rng() % 2) * 255 : rng() % 256;
        auto c = [&] { return a ? uint32_t(rng() % (a + 1)) : 0u; };
        p = c() | c() << 8 | c() << 16 | a << 24;
    }
    return image;
}

} // namespace

TEST(PixelExact, PremultiplyingMatchesRoundedDivisionForEveryChannelAndAlpha) {
    // Every (channel, alpha) pair through each instruction-set path this
    // processor runs, at odd offsets so that the vector loops and their
    // tails all see every value.
    std::vector<unsigned char> rgba;
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t c = 0; c < 256; ++c) rgba.insert(rgba.end(), {uint8_t(c), uint8_t(255 - c), uint8_t(c ^ 0x5A), uint8_t(a)});
    }
    const size_t pixels = rgba.size() / 4;
    for (int level = 1; level <= ma::PremultiplyLevels(); ++level) {
        for (size_t skip : {size_t(0), size_t(1), size_t(3), size_t(7)}) {
            std::vector<uint32_t> out(pixels - skip, 0xDEADBEEF);
            ma::PremultiplyPixelsAt(level, rgba.data() + skip * 4, out.size(), out.data());
            for (size_t i = 0; i < out.size(); ++i) {
                const uint8_t* p = rgba.data() + (skip + i) * 4;
                const uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
                const uint32_t want = a << 24 | ((b * a + 127) / 255) << 16 | ((g * a + 127) / 255) << 8 | ((r * a + 127) / 255);
                ASSERT_EQ(out[i], want) << "pixel " << i << " at level " << level << ", offset " << skip;
            }
        }
    }
    // The image form: an odd width, every pixel written.
    ma::Image image;
    ASSERT_TRUE(ma::Premultiplied(rgba, 255, 257, image));
    ASSERT_EQ(image.px.size(), size_t(255) * 257);
    std::vector<uint32_t> direct(image.px.size());
    ma::PremultiplyPixelsAt(1, rgba.data(), direct.size(), direct.data());
    EXPECT_EQ(image.px, direct);
}

TEST(PixelExact, ResamplingMatchesTheTwoPassModelBitForBit) {
    std::mt19937 rng(20261211);
    for (int n = 0; n < 400; ++n) {
        const ma::Image image = RandomImage(rng, 1 + int(rng() % 40), 1 + int(rng() % 40));
        const int sx = int(rng() % 12) - 3, sy = int(rng() % 12) - 3;
        const int sw = int(rng() % 50) - 2, sh = int(rng() % 50) - 2;
        // Enlarging, reducing and mixed, with sizes that are and are not
        // multiples of the source.
        const int dw = int(rng() % 120) - 2, dh = int(rng() % 120) - 2;
        const bool flipX = rng() % 2, flipY = rng() % 2;
        const ma::Image got = ma::Resample(image, sx, sy, sw, sh, dw, dh, flipX, flipY);
        const ma::Image want = ModelResample(image, sx, sy, sw, sh, dw, dh, flipX, flipY);
        ASSERT_EQ(got.w, want.w) << "case " << n;
        ASSERT_EQ(got.h, want.h) << "case " << n;
        ASSERT_EQ(got.px, want.px) << "case " << n << ": " << image.w << "x" << image.h << " (" << sx << "," << sy << ","
                                   << sw << "," << sh << ") to " << dw << "x" << dh;
    }
    // A strong reduction (many taps per row) and a strong enlargement.
    const ma::Image big = RandomImage(rng, 300, 200);
    EXPECT_EQ(ma::Resample(big, 0, 0, 300, 200, 7, 5, false, true).px, ModelResample(big, 0, 0, 300, 200, 7, 5, false, true).px);
    const ma::Image small = RandomImage(rng, 5, 3);
    EXPECT_EQ(ma::Resample(small, 0, 0, 5, 3, 333, 211, true, false).px,
              ModelResample(small, 0, 0, 5, 3, 333, 211, true, false).px);
}

TEST(PixelExact, MirroredRequestsFromTheCacheEqualFreshResamples) {
    std::mt19937 rng(7);
    const ma::Image image = RandomImage(rng, 37, 23);
    ma::ClearCache();
    for (const auto& [fx, fy] : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
        const ma::Image& cached = ma::Scaled(image, 2, 1, 30, 20, 81, 47, fx, fy);
        EXPECT_EQ(cached.px, ma::Resample(image, 2, 1, 30, 20, 81, 47, fx, fy).px) << fx << fy;
        EXPECT_EQ(cached.w, 81);
        EXPECT_EQ(cached.h, 47);
    }
    EXPECT_EQ(ma::CacheSize(), 4u);
    EXPECT_EQ(ma::Scaled(image, 0, 0, 4, 4, 0, 10, true, false).w, 0) << "an empty request stays empty mirrored";
    EXPECT_EQ(ma::Scaled(image, 0, 0, 4, 4, 0, 10, false, false).w, 0);
    ma::ClearCache();
}

TEST(PixelExact, Crc32MatchesTheBitwiseDefinition) {
    auto bitwise = [](const uint8_t* data, size_t size, uint32_t crc) {
        uint32_t c = crc ^ 0xFFFFFFFFu;
        for (size_t i = 0; i < size; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    std::mt19937 rng(99);
    std::vector<uint8_t> data(4099);
    for (uint8_t& b : data) b = uint8_t(rng());
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(lf::Crc32(check, 9, 0), 0xCBF43926u);
    // Both the folding path (64 bytes and more, where the processor has it)
    // and the tables, over lengths around each of its steps.
    for (bool clmul : {true, false}) {
        lf::testing::SetCrcClmul(clmul);
        for (size_t offset : {0, 1, 3}) {
            for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 143, 144, 191, 4093, 4096}) {
                EXPECT_EQ(lf::Crc32(data.data() + offset, size, 0), bitwise(data.data() + offset, size, 0))
                    << size << (clmul ? " folded" : " tables");
                EXPECT_EQ(lf::Crc32(data.data() + offset, size, 0x12345678u),
                          bitwise(data.data() + offset, size, 0x12345678u));
            }
        }
    }
    lf::testing::SetCrcClmul(true);
}
