// PNG decoding through stb_image, built here with PNG support only.
#include "runtime/platform/image_posix.h"

#include <climits>
#include <cstring>

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
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace plat {

bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba) {
    if (!data || size > size_t(INT_MAX)) return false;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, int(size), &w, &h, &channels, 4);
    if (!pixels) return false;
    const bool ok = w > 0 && h > 0;
    if (ok) {
        rgba.assign(pixels, pixels + size_t(w) * size_t(h) * 4);
        width = w;
        height = h;
    }
    stbi_image_free(pixels);
    return ok;
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
