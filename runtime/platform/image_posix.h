#pragma once
// PNG decoding through stb_image (built with PNG support only).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

// Any PNG colour type or depth to 8-bit straight RGBA, rows top to bottom.
// On failure the outputs are left as they were.
bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba);

// As DecodePng, but the pixels (width x height x 4 bytes) are handed to
// `take` in the decoder's own buffer instead of being copied out first.
// `take` is called only on success.
template <typename Take>
bool DecodePngPixels(const uint8_t* data, size_t size, Take&& take);

// The dimensions stated by a PNG's header, without decoding the pixels.
bool PngDimensions(const uint8_t* data, size_t size, int& width, int& height);

// The decoder behind DecodePng and DecodePngPixels: the pixels in a buffer
// that the caller frees with FreePngPixels, or null.
uint8_t* DecodePngBuffer(const uint8_t* data, size_t size, int& width, int& height);
void FreePngPixels(uint8_t* pixels);

template <typename Take>
bool DecodePngPixels(const uint8_t* data, size_t size, Take&& take) {
    int w = 0, h = 0;
    uint8_t* pixels = DecodePngBuffer(data, size, w, h);
    if (!pixels) return false;
    take(static_cast<const uint8_t*>(pixels), w, h);
    FreePngPixels(pixels);
    return true;
}

} // namespace plat
