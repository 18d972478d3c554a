#pragma once
// Font glyph composition for the game's bitmap fonts and the PNG coding the
// font pages need.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace settings::language_font {

// Decodes a PNG to straight RGBA; images wider or taller than 4096 pixels are
// rejected as undecodable. On failure the outputs are left as they were.
bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba);
// The same checks and decoder, with the pixels (width x height x 4 bytes)
// handed to take(rgba, width, height) in the decoder's buffer, only on success.
bool DecodePngPixels(const uint8_t* data, size_t size,
                     const std::function<void(const uint8_t* rgba, int width, int height)>& take);
// Pixels in the decoder's own buffer, freed when the holder goes.
struct PngPixelsFree {
    void operator()(uint8_t* pixels) const;
};
using PngPixels = std::unique_ptr<uint8_t, PngPixelsFree>;
// The same checks and decoder, keeping the decoder's buffer: null on failure,
// when width and height are left as they were.
PngPixels DecodePngBuffer(const uint8_t* data, size_t size, int& width, int& height);

// ---- PNG building blocks (used by the glyph composer and the fixture writers) ----

// An RGBA byte image: 4 bytes per pixel R, G, B, A, straight alpha, rows top to bottom.
struct Image {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> rgba;
    uint8_t* At(int x, int y) { return rgba.data() + (size_t(y) * size_t(w) + size_t(x)) * 4; }
    const uint8_t* At(int x, int y) const { return rgba.data() + (size_t(y) * size_t(w) + size_t(x)) * 4; }
};

// A palette PNG when plte is not empty (each pixel mapped to the nearest
// entry, trns giving the entries' alpha), else an RGBA PNG; stored deflate.
std::vector<uint8_t> EncodePng(const Image& image, const std::vector<uint8_t>& plte,
                               const std::vector<uint8_t>& trns);
// What decoding a PNG written by EncodePng gives, known without decoding it.
struct EncodedPixels {
    bool known = false;  // false for a palette a decoder may refuse
    std::vector<uint8_t> rgba;  // an RGBA image: its pixels
    // A palette image: its image data (each row a filter byte, then one
    // index per pixel) and the entries as a decoder expands them, straight
    // R | G << 8 | B << 16 | A << 24 (entries without a transparency byte
    // are opaque).
    std::vector<uint8_t> raw;
    uint32_t palette[256] = {};
};
// The same; `pixels` (when not null) also receives what decoding the result
// gives. A palette with a partial entry, more than 256 entries or more
// transparency bytes than entries is one a decoder may refuse: unknown.
std::vector<uint8_t> EncodePng(const Image& image, const std::vector<uint8_t>& plte,
                               const std::vector<uint8_t>& trns, EncodedPixels* pixels);
// One image placed on a sheet, its top left corner at (x, y).
struct SheetPiece {
    int x = 0;
    int y = 0;
    const Image* image = nullptr;
};
// The same bytes as EncodePng of a width x height sheet that is transparent
// black (all bytes 0) but for the pieces, copied onto it in order (parts
// outside the sheet cut off), without building the sheet.
std::vector<uint8_t> EncodeSheetPng(int width, int height, const std::vector<SheetPiece>& pieces,
                                    const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns,
                                    EncodedPixels* pixels);
// The data of the first chunk of `type`, or an empty vector.
std::vector<uint8_t> PngChunk(const uint8_t* png, size_t size, const char* type);
// Appends one chunk: length, type, body, CRC-32 of type and body.
void WritePngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body);
void AppendBE32(std::vector<uint8_t>& out, uint32_t value);
// The PNG CRC-32 (reflected 0xEDB88320) continued from `crc` (start with 0).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc);

namespace testing {
// Whether Crc32 may use carry-less multiplication where the processor has it
// (the default) or only its tables.
void SetCrcClmul(bool use);
} // namespace testing

} // namespace settings::language_font
