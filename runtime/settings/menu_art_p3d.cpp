// P3D packages: the chunk walk, texture and sprite chunks decoded into
// premultiplied images, and the search of an image by name.
#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <climits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace settings::menu_art {

const ArtSource ART_SOURCES[ART_COUNT] = {
    {Art::StarFull, PACKAGE_INGAME, "FE_star_open.tga"},
    {Art::PauseStrip, PACKAGE_INGAME, "InGame_Pause_Background.tga"},
    {Art::MessageFrame, PACKAGE_PERSISTENT, "MSG_Background.tga"},
    {Art::DividerLeft, PACKAGE_FRONTEND, "FE_Name_Divider_Left.tga"},
    {Art::DividerRight, PACKAGE_FRONTEND, "FE_Name_Divider_Right.tga"},
    {Art::BackdropWeave, PACKAGE_FRONTEND, "FE_Background_Weave.tga"},
    {Art::BackdropFold, PACKAGE_FRONTEND, "FE_Background_Fold.tga"},
    {Art::FoliageTop, PACKAGE_FRONTEND, "FE_Background_Foliage_Top.tga"},
    {Art::FoliageBottom, PACKAGE_FRONTEND, "FE_Background_Foliage_Bottom.tga"},
    {Art::LightMap, PACKAGE_FRONTEND, "FE_Background_Light_Map.tga"},
    {Art::TitleLogo, PACKAGE_FRONTEND, "FE_Title_Logo.tga"},
};

namespace {

// The PNG of an image chunk: its first 0x19002 child with a complete head,
// whose stated size must lie wholly inside that child.
bool ImageChunkPng(const uint8_t* data, const Chunk& imageChunk, const uint8_t*& png, size_t& size) {
    for (const Chunk& c : Children(data, imageChunk.offset + imageChunk.header, imageChunk.offset + imageChunk.size)) {
        if (c.id != CHUNK_IMAGE_DATA || c.header < 16) continue;
        const size_t n = LE32(data + c.offset + 12);
        if (c.size < n + 16) return false;
        png = data + c.offset + 16;
        size = n;
        return true;
    }
    return false;
}

// An image chunk decoded into the decoder's own buffer.
language_font::PngPixels DecodeImageChunk(const uint8_t* data, const Chunk& imageChunk, int& w, int& h) {
    const uint8_t* png = nullptr;
    size_t size = 0;
    if (!ImageChunkPng(data, imageChunk, png, size)) return nullptr;
    return language_font::DecodePngBuffer(png, size, w, h);
}

// The first image of a texture or sprite chunk (later images are ignored).
language_font::PngPixels FirstImage(const uint8_t* data, const Chunk& owner, int& w, int& h) {
    const uint8_t* png = nullptr;
    size_t size = 0;
    if (!OwnerPng(data, owner, png, size)) return nullptr;
    return language_font::DecodePngBuffer(png, size, w, h);
}

// Premultiplies the w x h rectangle at (x, y) of straight RGBA rows `stride`
// pixels long into `out`, rows `outStride` words apart.
void PremultiplyRect(const uint8_t* rgba, size_t stride, int x, int y, int w, int h, uint32_t* out,
                     size_t outStride) {
    for (int row = 0; row < h; ++row) {
        PremultiplyPixels(rgba + ((size_t(y) + size_t(row)) * stride + size_t(x)) * 4, size_t(w),
                          out + size_t(row) * outStride);
    }
}

// Name of a texture or sprite chunk (header size at least 14).
std::string OwnerName(const uint8_t* data, const Chunk& c) {
    return Pascal(data + c.offset + 12, c.header - 13);
}

} // namespace

std::vector<Chunk> Children(const uint8_t* data, size_t begin, size_t end) {
    std::vector<Chunk> out;
    size_t p = begin;
    while (p + 12 <= end) {
        const size_t header = LE32(data + p + 4);
        const size_t size = LE32(data + p + 8);
        if (size < header || header < 12 || size < 12) break;
        if (size > end - p) break;
        out.push_back({LE32(data + p), p, header, size});
        p += size;
    }
    return out;
}

std::string Pascal(const uint8_t* p, size_t limit) {
    const size_t n = std::min<size_t>(p[0], limit);
    size_t len = 0;
    while (len < n && p[1 + len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p + 1), len);
}

namespace {

// (c * a + 127) / 255 rounds c * a / 255 to nearest (255 is odd, so there is
// no half to break), and for x = c * a <= 65025 that is ((x + 128) * 257) >> 16:
// a multiply-high in sixteen-bit lanes. The alpha lanes are multiplied by 255,
// which gives the alpha back unchanged.
void PremultiplyScalar(const uint8_t* rgba, size_t count, uint32_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = rgba + i * 4;
        const uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
        out[i] = a << 24 | ((b * a + 127) / 255) << 16 | ((g * a + 127) / 255) << 8 | ((r * a + 127) / 255);
    }
}

#if defined(__SSE2__)
size_t PremultiplySse2(const uint8_t* rgba, size_t count, uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i m257 = _mm_set1_epi16(257);
    const __m128i alphaLanes = _mm_set1_epi64x(int64_t(0x00FF000000000000));
    const __m128i colourLanes = _mm_set1_epi64x(int64_t(0x0000FFFFFFFFFFFF));
    auto half = [&](__m128i c) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
        const __m128i factor = _mm_or_si128(_mm_and_si128(a, colourLanes), alphaLanes);
        return _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(c, factor), bias), m257);
    };
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + i * 4));
        const __m128i word = _mm_packus_epi16(half(_mm_unpacklo_epi8(px, zero)), half(_mm_unpackhi_epi8(px, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), word);
    }
    return i;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// Eight sixteen-bit lanes (two pixels) per 128-bit half; `spread` copies each
// pixel's alpha to its three colour lanes, the OR sets the alpha lane to 255.
__attribute__((target("avx2"), always_inline)) inline __m256i PremultiplyLanesAvx2(__m256i c, __m256i spread) {
    const __m256i factor = _mm256_or_si256(_mm256_shuffle_epi8(c, spread), _mm256_set1_epi64x(int64_t(0x00FF000000000000)));
    return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(c, factor), _mm256_set1_epi16(128)),
                              _mm256_set1_epi16(257));
}

__attribute__((target("avx2"))) size_t PremultiplyAvx2(const uint8_t* rgba, size_t count, uint32_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i spread = _mm256_setr_epi8(6, -1, 6, -1, 6, -1, -1, -1, 14, -1, 14, -1, 14, -1, -1, -1,  //
                                            6, -1, 6, -1, 6, -1, -1, -1, 14, -1, 14, -1, 14, -1, -1, -1);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + i * 4));
        const __m256i word = _mm256_packus_epi16(PremultiplyLanesAvx2(_mm256_unpacklo_epi8(px, zero), spread),
                                                 PremultiplyLanesAvx2(_mm256_unpackhi_epi8(px, zero), spread));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), word);
    }
    return i;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

} // namespace

int PremultiplyLevels() {
#if defined(__x86_64__) || defined(__i386__)
    return HaveAvx2() ? 3 : 2;
#else
    return 1;
#endif
}

void PremultiplyPixelsAt(int level, const uint8_t* rgba, size_t count, uint32_t* out) {
    size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (level >= 3 && HaveAvx2()) done = PremultiplyAvx2(rgba, count, out);
#endif
#if defined(__SSE2__)
    if (level >= 2) done += PremultiplySse2(rgba + done * 4, count - done, out + done);
#endif
    PremultiplyScalar(rgba + done * 4, count - done, out + done);
}

void PremultiplyPixels(const uint8_t* rgba, size_t count, uint32_t* out) {
    PremultiplyPixelsAt(3, rgba, count, out);
}

bool Premultiplied(const std::vector<unsigned char>& rgba, int w, int h, Image& image) {
    image.w = w;
    image.h = h;
    const size_t count = size_t(std::max(w, 0)) * size_t(std::max(h, 0));
    image.px.resize(count);
    PremultiplyPixels(rgba.data(), count, image.px.data());
    return true;
}

bool OwnerPng(const uint8_t* data, const Chunk& owner, const uint8_t*& png, size_t& size) {
    for (const Chunk& c : Children(data, owner.offset + owner.header, owner.offset + owner.size))
        if (c.id == CHUNK_IMAGE) return ImageChunkPng(data, c, png, size);  // later images are ignored
    return false;
}

bool OwnerImage(const uint8_t* data, const Chunk& owner, Image& image) {
    int w = 0, h = 0;
    const language_font::PngPixels pixels = FirstImage(data, owner, w, h);
    if (!pixels) return false;
    image.w = w;
    image.h = h;
    image.px.resize(size_t(w) * size_t(h));
    PremultiplyPixels(pixels.get(), image.px.size(), image.px.data());
    return true;
}

Image Crop(const Image& image, int x, int y, int w, int h) {
    Image out;
    out.w = std::clamp(w, 0, std::max(image.w - x, 0));
    out.h = std::clamp(h, 0, std::max(image.h - y, 0));
    out.px.resize(size_t(out.w) * size_t(out.h));
    for (int row = 0; row < out.h; ++row) {
        const uint32_t* src = image.px.data() + size_t(y + row) * size_t(image.w) + size_t(x);
        std::copy(src, src + out.w, out.px.data() + size_t(row) * size_t(out.w));
    }
    return out;
}

bool StitchSprite(const uint8_t* data, const Chunk& owner, int width, int height, Image& image) {
    // Tiles stay in the decoder's buffers; each is premultiplied straight into
    // its place on the sprite.
    struct Tile {
        language_font::PngPixels px;
        int w = 0, h = 0;
    };
    std::vector<Tile> tiles;
    uint64_t tileArea = 0;
    for (const Chunk& c : Children(data, owner.offset + owner.header, owner.offset + owner.size)) {
        if (c.id != CHUNK_IMAGE) continue;
        Tile tile;
        tile.px = DecodeImageChunk(data, c, tile.w, tile.h);
        if (!tile.px) return false;
        tileArea += uint64_t(tile.w) * uint64_t(tile.h);
        tiles.push_back(std::move(tile));
    }
    if (width <= 0 || height <= 0 || tiles.size() < 2) return false;
    // Each closed row is narrower than its tiles together and no taller than
    // them, so a sprite larger than its tiles' total area can never close; it
    // is refused before its canvas is allocated.
    if (uint64_t(width) * uint64_t(height) > tileArea) return false;

    image.w = width;
    image.h = height;
    image.px.assign(size_t(width) * size_t(height), 0);
    int x = -1, y = -1, rowHeight = 0;
    for (const Tile& tile : tiles) {
        if (y + 1 >= height) return false;
        if (rowHeight != 0 && tile.h != rowHeight) return false;
        // The part of the tile that lies on the sprite (x, y >= -1; x <= width).
        const int tx0 = x < 0 ? -x : 0, ty0 = y < 0 ? -y : 0;
        const int tx1 = int(std::min<int64_t>(tile.w, int64_t(width) - x));
        const int ty1 = int(std::min<int64_t>(tile.h, int64_t(height) - y));
        if (tx1 > tx0 && ty1 > ty0) {
            PremultiplyRect(tile.px.get(), size_t(tile.w), tx0, ty0, tx1 - tx0, ty1 - ty0,
                            image.px.data() + size_t(y + ty0) * size_t(width) + size_t(x + tx0), size_t(width));
        }
        if (int64_t(x) + tile.w > width) {
            x = -1;
            y = y + tile.h - 2;
            rowHeight = 0;
        } else {
            x = x + tile.w - 2;
            rowHeight = tile.h;
        }
    }
    return x == -1 && y + 1 >= height;
}

bool FindImage(const std::vector<unsigned char>& package, const std::string& name, Image& image) {
    const std::string wanted = Lower(name);
    const uint8_t* data = package.data();
    bool found = false;
    auto visit = [&](const Chunk& c) {
        if (found || (c.id != CHUNK_TEXTURE && c.id != CHUNK_SPRITE) || c.header < 14) return;
        if (Lower(OwnerName(data, c)) != wanted) return;
        const size_t n = data[c.offset + 12];
        const bool sprite = c.id == CHUNK_SPRITE && c.header >= 34 + n;
        const uint32_t width = sprite ? LE32(data + c.offset + 22 + n) : 0;
        const uint32_t height = sprite ? LE32(data + c.offset + 26 + n) : 0;
        const uint32_t tiles = sprite ? LE32(data + c.offset + 30 + n) : 0;
        if (width != 0 && height != 0 && tiles >= 2) {
            // The stitch decodes every tile, the first one included, so it
            // succeeds only where the first image alone would decode too.
            // Sizes beyond int cannot be stitched; they fail like any other misfit.
            const int w = width > uint32_t(INT_MAX) ? INT_MAX : int(width);
            const int h = height > uint32_t(INT_MAX) ? INT_MAX : int(height);
            found = StitchSprite(data, c, w, h, image);
            return;
        }
        int w = 0, h = 0;
        const language_font::PngPixels pixels = FirstImage(data, c, w, h);
        if (!pixels) return;
        found = true;
        // A single bordered tile loses its one-pixel border.
        const bool crop = width != 0 && height != 0 && tiles == 1 && uint64_t(w) >= uint64_t(width) + 2 &&
                          uint64_t(h) >= uint64_t(height) + 2;
        image.w = crop ? int(width) : w;
        image.h = crop ? int(height) : h;
        image.px.resize(size_t(image.w) * size_t(image.h));
        PremultiplyRect(pixels.get(), size_t(w), crop ? 1 : 0, crop ? 1 : 0, image.w, image.h, image.px.data(),
                        size_t(image.w));
    };
    if (package.size() >= 12) Walk(data, 0, package.size(), visit);
    // A sprite whose stitch failed may have left its pixels behind; what was
    // not found is absent.
    if (!found) image = Image{};
    return found;
}

} // namespace settings::menu_art
