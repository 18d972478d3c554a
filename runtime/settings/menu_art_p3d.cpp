// P3D packages: the chunk walk, texture and sprite chunks decoded into
// premultiplied images, and the search of an image by name.
#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <climits>

#if defined(__SSE2__)
#include <emmintrin.h>
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

// The image-data child of an image chunk, decoded (first 0x19002 child with a
// complete head; its PNG must lie wholly inside the chunk).
bool DecodeImageChunk(const uint8_t* data, const Chunk& imageChunk, Image& image) {
    for (const Chunk& c : Children(data, imageChunk.offset + imageChunk.header, imageChunk.offset + imageChunk.size)) {
        if (c.id != CHUNK_IMAGE_DATA || c.header < 16) continue;
        const size_t n = LE32(data + c.offset + 12);
        if (c.size < n + 16) return false;
        // Premultiplied straight out of the decoder's buffer.
        return language_font::DecodePngPixels(data + c.offset + 16, n, [&](const uint8_t* rgba, int w, int h) {
            image.w = w;
            image.h = h;
            image.px.resize(size_t(w) * size_t(h));
            PremultiplyPixels(rgba, image.px.size(), image.px.data());
        });
    }
    return false;
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

void PremultiplyPixels(const uint8_t* rgba, size_t count, uint32_t* out) {
    // (c * a + 127) / 255 is v / 255 for v = c * a + 127 <= 65152, and for
    // every v below 65535, v / 255 = (v + 1 + (v >> 8)) >> 8: sixteen-bit
    // lanes hold every step, so eight channels go through at once.
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(127);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i alphaLanes = _mm_set1_epi32(int(0xFF000000u));
    for (; i + 4 <= count; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + i * 4));
        auto half = [&](__m128i c) {
            const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
            const __m128i v = _mm_add_epi16(_mm_mullo_epi16(c, a), bias);
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v, one), _mm_srli_epi16(v, 8)), 8);
        };
        const __m128i scaled = _mm_packus_epi16(half(_mm_unpacklo_epi8(px, zero)), half(_mm_unpackhi_epi8(px, zero)));
        const __m128i word = _mm_or_si128(_mm_andnot_si128(alphaLanes, scaled), _mm_and_si128(alphaLanes, px));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), word);
    }
#endif
    for (; i < count; ++i) {
        const uint8_t* p = rgba + i * 4;
        const uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
        out[i] = a << 24 | ((b * a + 127) / 255) << 16 | ((g * a + 127) / 255) << 8 | ((r * a + 127) / 255);
    }
}

bool Premultiplied(const std::vector<unsigned char>& rgba, int w, int h, Image& image) {
    image.w = w;
    image.h = h;
    const size_t count = size_t(std::max(w, 0)) * size_t(std::max(h, 0));
    image.px.resize(count);
    PremultiplyPixels(rgba.data(), count, image.px.data());
    return true;
}

bool OwnerImage(const uint8_t* data, const Chunk& owner, Image& image) {
    for (const Chunk& c : Children(data, owner.offset + owner.header, owner.offset + owner.size))
        if (c.id == CHUNK_IMAGE) return DecodeImageChunk(data, c, image);  // later images are ignored
    return false;
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
    std::vector<Image> tiles;
    uint64_t tileArea = 0;
    for (const Chunk& c : Children(data, owner.offset + owner.header, owner.offset + owner.size)) {
        if (c.id != CHUNK_IMAGE) continue;
        Image tile;
        if (!DecodeImageChunk(data, c, tile)) return false;
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
    for (const Image& tile : tiles) {
        if (y + 1 >= height) return false;
        if (rowHeight != 0 && tile.h != rowHeight) return false;
        for (int ty = 0; ty < tile.h; ++ty) {
            const int dy = y + ty;
            if (dy < 0 || dy >= height) continue;
            for (int tx = 0; tx < tile.w; ++tx) {
                const int dx = x + tx;
                if (dx < 0 || dx >= width) continue;
                image.px[size_t(dy) * size_t(width) + size_t(dx)] = tile.px[size_t(ty) * size_t(tile.w) + size_t(tx)];
            }
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
        if (!OwnerImage(data, c, image)) return;
        found = true;
        const size_t n = data[c.offset + 12];
        if (c.id != CHUNK_SPRITE || c.header < 34 + n) return;
        const uint32_t width = LE32(data + c.offset + 22 + n);
        const uint32_t height = LE32(data + c.offset + 26 + n);
        const uint32_t tiles = LE32(data + c.offset + 30 + n);
        if (width == 0 || height == 0) return;
        if (tiles == 1) {
            if (uint64_t(image.w) >= uint64_t(width) + 2 && uint64_t(image.h) >= uint64_t(height) + 2)
                image = Crop(image, 1, 1, int(width), int(height));
        } else if (tiles >= 2) {
            // Sizes beyond int cannot be stitched; they fail like any other misfit.
            const int w = width > uint32_t(INT_MAX) ? INT_MAX : int(width);
            const int h = height > uint32_t(INT_MAX) ? INT_MAX : int(height);
            found = StitchSprite(data, c, w, h, image);
        }
    };
    if (package.size() >= 12) Walk(data, 0, package.size(), visit);
    return found;
}

} // namespace settings::menu_art
