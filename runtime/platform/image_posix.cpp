// PNG decoding through stb_image, built here with PNG support only.
#include "runtime/platform/image_posix.h"

#include <climits>
#include <cstring>

namespace {

// stb_image copies zero bytes from or to a null buffer for an empty first
// IDAT chunk; the copy it uses skips empty copies, which keeps that defined.
inline void* StbCopy(void* to, const void* from, size_t size) {
    return size ? std::memcpy(to, from, size) : to;
}

} // namespace

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_NO_FAILURE_STRINGS
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#define memcpy StbCopy
#include <stb_image.h>
#undef memcpy
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace plat {
namespace {

// stb_image grows its buffer to a chunk's stated length before it finds out
// that the data is not there, so a few bytes stating a gigabyte chunk would
// allocate a gigabyte. Such a file cannot decode (stb fails when its read
// comes up short), so it is refused here first: every chunk up to IEND must
// lie inside the data.
bool ChunksFit(const uint8_t* data, size_t size) {
    size_t pos = 8;
    while (pos + 8 <= size) {
        const size_t length = size_t(data[pos]) << 24 | size_t(data[pos + 1]) << 16 | size_t(data[pos + 2]) << 8 |
                              size_t(data[pos + 3]);
        if (std::memcmp(data + pos + 4, "IEND", 4) == 0) return true;  // stb stops reading here
        if (length > size - pos - 8 || size - pos - 8 - length < 4) return false;
        pos += 12 + length;
    }
    return true;  // a file cut at a chunk boundary: stb reports it
}

} // namespace

uint8_t* DecodePngBuffer(const uint8_t* data, size_t size, int& width, int& height) {
    if (!data || size > size_t(INT_MAX)) return nullptr;
    if (!ChunksFit(data, size)) return nullptr;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, int(size), &w, &h, &channels, 4);
    if (!pixels) return nullptr;
    if (w <= 0 || h <= 0) {
        stbi_image_free(pixels);
        return nullptr;
    }
    width = w;
    height = h;
    return pixels;
}

void FreePngPixels(uint8_t* pixels) { stbi_image_free(pixels); }

bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba) {
    return DecodePngPixels(data, size, [&](const uint8_t* pixels, int w, int h) {
        rgba.assign(pixels, pixels + size_t(w) * size_t(h) * 4);
        width = w;
        height = h;
    });
}

bool PngDimensions(const uint8_t* data, size_t size, int& width, int& height) {
    if (!data || size > size_t(INT_MAX)) return false;
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, int(size), &w, &h, &channels)) return false;
    width = w;
    height = h;
    return true;
}

} // namespace plat
