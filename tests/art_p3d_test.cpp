// P3D packages as the art loader meets them: the chunk walk over good and
// malformed heads, names, premultiplication, and textures and sprites (with
// borders, tiles and damaged data) found by name.
#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/p3d_writer.h"
#include "tests/support/synthetic_dump.h"

#include <gtest/gtest.h>

#include <functional>

namespace ma = settings::menu_art;
namespace lf = settings::language_font;
using testsupport::P3dChunk;

namespace {

std::vector<uint8_t> Head(uint32_t id, uint32_t header, uint32_t size) {
    std::vector<uint8_t> out;
    testsupport::AppendLE32(out, id);
    testsupport::AppendLE32(out, header);
    testsupport::AppendLE32(out, size);
    return out;
}

std::vector<ma::Chunk> WalkAll(const std::vector<uint8_t>& buf) {
    std::vector<ma::Chunk> seen;
    auto visit = [&](const ma::Chunk& c) { seen.push_back(c); };
    if (buf.size() >= 12) ma::Walk(buf.data(), 0, buf.size(), visit);
    return seen;
}

// An image whose pixel (x, y) encodes its position and the tile it came from.
lf::Image Gradient(int w, int h, uint8_t tag, uint8_t alpha = 255) {
    lf::Image img;
    img.w = w;
    img.h = h;
    img.rgba.resize(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.At(x, y);
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = tag;
            p[3] = alpha;
        }
    return img;
}

std::vector<uint8_t> Png(const lf::Image& img) { return lf::EncodePng(img, {}, {}); }

uint32_t Word(uint8_t r, uint8_t g, uint8_t b) { return 0xFF000000u | uint32_t(b) << 16 | uint32_t(g) << 8 | r; }

P3dChunk Sprite(const std::string& name, uint32_t w, uint32_t h, const std::vector<lf::Image>& tiles) {
    std::vector<testsupport::SpriteTile> t;
    for (const lf::Image& img : tiles) t.push_back({Png(img), uint32_t(img.w), uint32_t(img.h)});
    return testsupport::SpriteChunk(name, w, h, t);
}

TEST(P3dChunks, MalformedHeadsEndTheSiblingList) {
    EXPECT_TRUE(WalkAll(std::vector<uint8_t>(11, 0)).empty());
    struct Case {
        const char* what;
        std::vector<uint32_t> third;  // id, header, size of the third sibling
        size_t expected;
    };
    const Case cases[] = {
        {"well formed", {3, 12, 12}, 4},
        {"total below header", {3, 20, 16}, 2},
        {"header below 12", {3, 8, 12}, 2},
        {"total below 12", {3, 4, 8}, 2},
        {"runs past the end", {3, 12, 400}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> buf = Head(1, 12, 12);
        const auto b = Head(2, 16, 16);
        buf.insert(buf.end(), b.begin(), b.end());
        buf.insert(buf.end(), 4, 0);
        const auto t = Head(c.third[0], c.third[1], c.third[2]);
        buf.insert(buf.end(), t.begin(), t.end());
        const auto d = Head(4, 12, 12);  // after a bad head nothing more is read
        buf.insert(buf.end(), d.begin(), d.end());
        EXPECT_EQ(ma::Children(buf.data(), 0, buf.size()).size(), c.expected);
    }
}

TEST(P3dChunks, WalkIsDepthFirstParentBeforeChildren) {
    P3dChunk leaf1{0x10, {1, 2}, {}}, leaf2{0x11, {}, {}}, mid{0x20, {9}, {leaf1, leaf2}}, last{0x30, {}, {}};
    P3dChunk root{0x40, {}, {mid, last}};
    const std::vector<uint8_t> buf = testsupport::SerializeChunk(root);
    std::vector<uint32_t> ids;
    for (const ma::Chunk& c : WalkAll(buf)) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x40, 0x20, 0x10, 0x11, 0x30}));
    const auto all = WalkAll(buf);
    EXPECT_EQ(all[1].offset, 12u);
    EXPECT_EQ(all[1].header, 13u);
    EXPECT_EQ(all[1].size, 13u + 14 + 12);
}

TEST(P3dChunks, DeepNestingDoesNotExhaustTheStack) {
    // 200,000 chunks each holding the next: the walk keeps its own stack.
    const size_t depth = 200000;
    std::vector<uint8_t> buf(depth * 12);
    for (size_t i = 0; i < depth; ++i) {
        const uint32_t size = uint32_t((depth - i) * 12);
        for (int k = 0; k < 4; ++k) {
            buf[i * 12 + k] = uint8_t(i >> (8 * k));
            buf[i * 12 + 4 + k] = uint8_t(12u >> (8 * k));
            buf[i * 12 + 8 + k] = uint8_t(size >> (8 * k));
        }
    }
    size_t count = 0, lastId = 0;
    auto visit = [&](const ma::Chunk& c) {
        ++count;
        lastId = c.id;
    };
    ma::Walk(buf.data(), 0, buf.size(), visit);
    EXPECT_EQ(count, depth);
    EXPECT_EQ(lastId, depth - 1);
    ma::Image image;
    EXPECT_FALSE(ma::FindImage(buf, "FE_Title_Logo.tga", image));
}

TEST(P3dNames, PascalStopsAtLimitAndNul) {
    const uint8_t text[] = {8, 'a', 'b', 'c', 0, 0, 0, 0, 0, 'z'};
    EXPECT_EQ(ma::Pascal(text, 100), "abc");
    EXPECT_EQ(ma::Pascal(text, 2), "ab");
    const uint8_t full[] = {3, 'x', 'y', 'z', 'w'};
    EXPECT_EQ(ma::Pascal(full, 100), "xyz");
    const uint8_t none[] = {0, 'q'};
    EXPECT_EQ(ma::Pascal(none, 100), "");
}

TEST(P3dImages, PremultiplicationRoundsToNearest) {
    struct Case {
        std::array<uint8_t, 4> rgba;
        uint32_t word;
    };
    const Case cases[] = {
        {{200, 100, 50, 0}, 0},                 // fully transparent: word 0 whatever the colour
        {{200, 100, 50, 255}, 0xFF3264C8u},     // opaque keeps its colour bytes
        {{255, 128, 1, 128}, 0x80014080u},      // 128.5 -> 128, 64.25 -> 64, 0.50 -> 1
        {{1, 2, 3, 127}, 0x7F010100u},          // 0.498 -> 0, 0.996 -> 1, 1.49 -> 1
        {{255, 255, 255, 1}, 0x01010101u},
    };
    for (const Case& c : cases) {
        ma::Image img;
        ASSERT_TRUE(ma::Premultiplied(std::vector<unsigned char>(c.rgba.begin(), c.rgba.end()), 1, 1, img));
        EXPECT_EQ(img.w, 1);
        ASSERT_EQ(img.px.size(), 1u);
        EXPECT_EQ(img.px[0], c.word) << int(c.rgba[0]) << "," << int(c.rgba[3]);
    }
}

TEST(P3dImages, TexturesAreFoundByNameInAnyCase) {
    const auto package = testsupport::BuildPackage(
        {testsupport::TextureChunk("Other.tga", Png(Gradient(3, 3, 9)), 3, 3),
         P3dChunk{0x19100, {}, {testsupport::TextureChunk("FE_Title_Logo.tga", Png(Gradient(5, 4, 7)), 5, 4)}}});
    for (const char* name : {"FE_Title_Logo.tga", "FE_TITLE_LOGO.TGA", "fe_title_logo.tga"}) {
        ma::Image img;
        ASSERT_TRUE(ma::FindImage(package, name, img)) << name;
        EXPECT_EQ(img.w, 5);
        EXPECT_EQ(img.h, 4);
        EXPECT_EQ(img.px[3 + 2 * 5], Word(3, 2, 7));
    }
    ma::Image none;
    EXPECT_FALSE(ma::FindImage(package, "FE_Title_Logo", none));
    EXPECT_EQ(none.w, 0);
}

TEST(P3dImages, FirstImageChildDecidesAndFailuresLetTheWalkGoOn) {
    // A texture whose first image child has no image data fails even though its
    // second image child would decode.
    P3dChunk broken{0x19000, {}, {P3dChunk{0x19001, {1, 2, 3}, {}}, testsupport::ImageChunk("i", Png(Gradient(2, 2, 1)), 2, 2)}};
    testsupport::AppendPascal(broken.data, "Star.tga");
    {
        ma::Image img;
        EXPECT_FALSE(ma::FindImage(testsupport::BuildPackage({broken}), "star.tga", img));
        EXPECT_EQ(img.w, 0);
    }
    // A PNG shorter than its stated byte count fails; a later texture of the
    // same name succeeds; one after that is ignored.
    std::vector<uint8_t> png = Png(Gradient(4, 4, 2));
    P3dChunk shortData = testsupport::TextureChunk("Star.tga", png, 4, 4);
    auto& data = shortData.children[0].children[0].data;
    data[0] = uint8_t(data[0] + 1);  // states one byte more than the chunk holds
    const auto package = testsupport::BuildPackage({broken, shortData, testsupport::TextureChunk("STAR.TGA", Png(Gradient(6, 2, 3)), 6, 2),
                                                    testsupport::TextureChunk("star.tga", Png(Gradient(8, 8, 4)), 8, 8)});
    ma::Image img;
    ASSERT_TRUE(ma::FindImage(package, "Star.tga", img));
    EXPECT_EQ(img.w, 6);
    EXPECT_EQ(img.px[0], Word(0, 0, 3));
}

TEST(P3dSprites, SingleTileBorderIsCroppedWhenItFits) {
    struct Case {
        int pngW, pngH;
        int w, h;
        int expectW, expectH;
        uint32_t firstPixel;
    };
    const Case cases[] = {
        {102, 22, 100, 20, 100, 20, Word(1, 1, 5)},   // border removed
        {101, 22, 100, 20, 101, 22, Word(0, 0, 5)},   // one column short: kept as decoded
        {102, 22, 0, 20, 102, 22, Word(0, 0, 5)},     // no size: kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pngW) + "x" + std::to_string(c.pngH));
        const auto package = testsupport::BuildPackage({Sprite("fe_star_open.tga", uint32_t(c.w), uint32_t(c.h),
                                                               {Gradient(c.pngW, c.pngH, 5)})});
        ma::Image img;
        ASSERT_TRUE(ma::FindImage(package, "FE_star_open.tga", img));
        EXPECT_EQ(img.w, c.expectW);
        EXPECT_EQ(img.h, c.expectH);
        EXPECT_EQ(img.px[0], c.firstPixel);
    }
}

TEST(P3dSprites, TwoTilesStitchIntoOneRow) {
    // Two 66 x 34 tiles into 128 x 32: the first at (-1, -1), the second at (63, -1).
    const auto package =
        testsupport::BuildPackage({Sprite("Strip.tga", 128, 32, {Gradient(66, 34, 1), Gradient(66, 34, 2)})});
    ma::Image img;
    ASSERT_TRUE(ma::FindImage(package, "strip.tga", img));
    ASSERT_EQ(img.w, 128);
    ASSERT_EQ(img.h, 32);
    EXPECT_EQ(img.px[0], Word(1, 1, 1));
    EXPECT_EQ(img.px[62], Word(63, 1, 1));
    EXPECT_EQ(img.px[63], Word(0, 1, 2));  // the overlap column belongs to the later tile
    EXPECT_EQ(img.px[64], Word(1, 1, 2));
    EXPECT_EQ(img.px[127 + 31 * 128], Word(64, 32, 2));
}

TEST(P3dSprites, StitchFailures) {
    struct Case {
        const char* what;
        uint32_t w, h;
        std::vector<std::pair<int, int>> tiles;
    };
    const Case cases[] = {
        {"second tile of another height in the row", 190, 32, {{66, 34}, {66, 30}, {66, 34}}},
        {"last tile does not close its row", 200, 32, {{66, 34}, {66, 34}}},
        {"rows do not reach the bottom", 128, 64, {{66, 34}, {66, 34}}},
        {"a tile below the last row", 64, 32, {{66, 34}, {66, 34}}},
        {"larger than its tiles could cover", 100000, 100000, {{66, 34}, {66, 34}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<lf::Image> tiles;
        for (const auto& [w, h] : c.tiles) tiles.push_back(Gradient(w, h, 1));
        ma::Image img;
        EXPECT_FALSE(ma::FindImage(testsupport::BuildPackage({Sprite("s.tga", c.w, c.h, tiles)}), "s.tga", img));
        // Nothing of the failed stitch is left behind: the image is absent.
        EXPECT_EQ(img.w, 0);
        EXPECT_TRUE(img.px.empty());
    }
    // A failed stitch lets the walk go on to the next sprite of the same name.
    const auto package = testsupport::BuildPackage(
        {Sprite("s.tga", 200, 32, {Gradient(66, 34, 1), Gradient(66, 34, 1)}),
         Sprite("S.TGA", 128, 32, {Gradient(66, 34, 3), Gradient(66, 34, 4)})});
    ma::Image img;
    ASSERT_TRUE(ma::FindImage(package, "s.tga", img));
    EXPECT_EQ(img.px[0], Word(1, 1, 3));
}

TEST(P3dSprites, WriterTilesRoundTripThroughTheStitch) {
    // The fixture writer's tiling (rows of different heights, a narrow last
    // column) comes back pixel for pixel.
    lf::Image art = Gradient(300, 170, 0, 200);
    for (int y = 0; y < art.h; ++y)
        for (int x = 0; x < art.w; ++x) art.At(x, y)[2] = uint8_t(x * y);
    const auto package = testsupport::BuildPackage(
        {testsupport::SpriteChunk("Tiles.tga", 300, 170, testsupport::SpriteTiles(art, 128, 64))});
    ma::Image img, want;
    ASSERT_TRUE(ma::FindImage(package, "tiles.tga", img));
    ma::Premultiplied(art.rgba, art.w, art.h, want);
    EXPECT_EQ(img.w, 300);
    EXPECT_EQ(img.h, 170);
    EXPECT_EQ(img.px, want.px);
}

TEST(P3dImages, CropClampsToTheImage) {
    ma::Image img;
    ma::Premultiplied(Gradient(10, 6, 0).rgba, 10, 6, img);
    const ma::Image a = ma::Crop(img, 8, 4, 5, 5);
    EXPECT_EQ(a.w, 2);
    EXPECT_EQ(a.h, 2);
    EXPECT_EQ(a.px[3], Word(9, 5, 0));
    const ma::Image b = ma::Crop(img, 2, 1, -3, 2);
    EXPECT_EQ(b.w, 0);
    EXPECT_TRUE(b.px.empty());
}

} // namespace
