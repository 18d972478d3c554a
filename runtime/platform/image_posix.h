#pragma once
// PNG decoding through stb_image (built with PNG support only).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

// Any PNG colour type or depth to 8-bit straight RGBA, rows top to bottom.
// On failure the outputs are left as they were.
bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba);

// The dimensions stated by a PNG's header, without decoding the pixels.
bool PngDimensions(const uint8_t* data, size_t size, int& width, int& height);

} // namespace plat
