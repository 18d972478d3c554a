#pragma once
// The game-art loader, the drawing surface the screen composes on, the cached
// image scaler, and the game's bitmap fonts with their text layout.
//
// The loader runs once on its own thread (StartLoading); the screen waits for
// it with Ready and then reads the images (GetArt) and the fonts. Canvas,
// Scaled, ClearCache, TextWidth, DrawGameText and DrawIcon belong to the screen
// thread: the scaled-image cache has no lock.
#include "runtime/settings/menu_art.h"

#include <cstdint>
#include <string>
#include <vector>

namespace settings::menu_art {

enum class FontId : int { Small = 0, Large = 1 };

// Straight (not premultiplied) colour.
struct Color {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;
};

// How a game-font glyph is coloured: the glyph's alpha ramp runs from the
// outline's soft edge (low) through the outline to the letter's body (high).
struct TextStyle {
    Color fill;
    Color outline;
    float opacity = 1.0f;  // 0-1
};

// A CPU drawing surface of premultiplied pixels (the Image pixel format).
// Rectangles are half-open; every operation clips to the canvas.
class Canvas {
public:
    // Size max(0, width) x max(0, height), all pixels transparent.
    void Reset(int width, int height);
    int Width() const { return w_; }
    int Height() const { return h_; }
    void Fill(int x0, int y0, int x1, int y1, Color color);
    // A vertical gradient from `top` (first row) to `bottom` (last row).
    void FillGradient(int x0, int y0, int x1, int y1, Color top, Color bottom);
    // Draws `image` at (x, y), its colour multiplied by `tint`; nothing at or
    // right of canvas column clipX1 (pass 0x40000000 for no limit).
    void Blit(const Image& image, int x, int y, Color tint, int clipX1);
    // Draws `tint` with the image's brightness as its alpha.
    void BlitGlow(const Image& image, int x, int y, Color tint);
    // Draws a game-font glyph: its alpha picks between outline and fill.
    void BlitGlyph(const Image& glyph, int x, int y, const TextStyle& style);
    // The pixels un-premultiplied (straight RGBA words), w x h of them.
    void Export(std::vector<uint32_t>& out) const;
    // The premultiplied pixels, rows top to bottom.
    const std::vector<uint32_t>& Pixels() const { return px_; }

private:
    int w_ = 0;
    int h_ = 0;
    std::vector<uint32_t> px_;
};

// ---- loading ----------------------------------------------------------------

// Starts the loader thread once; later calls do nothing.
void StartLoading();
// Waits up to waitMs for the loader; true when it has finished and both game
// fonts loaded. False at once when loading was never started.
bool Ready(int waitMs);
// The image, or null while loading is unfinished or when it was not found.
// The pointer stays valid for the life of the program.
const Image* GetArt(Art art);

// ---- scaling ----------------------------------------------------------------

// The source rectangle resampled to dw x dh, optionally mirrored. Results are
// cached per exact request (keyed by the source's address) and stay valid
// until ClearCache; a degenerate request gives an empty image (w == 0).
const Image& Scaled(const Image& image, int sx, int sy, int sw, int sh, int dw, int dh, bool flipX,
                    bool flipY);
const Image& Scaled(const Image& image, int dw, int dh, bool flipX, bool flipY);
// Drops every cached scaled image.
void ClearCache();

// ---- fonts and text ---------------------------------------------------------

// Whether text in `font` shows `c` as a glyph of its own.
bool HasGlyph(FontId font, char32_t c);
// Drawn width of a button icon at a height; 0 when there is no such icon.
float IconWidth(char32_t icon, float height);
// Draws a button icon with its top-left corner at (x, y); returns its width
// (0 when nothing was drawn).
float DrawIcon(Canvas& canvas, char32_t icon, float x, float y, float height, float opacity,
               bool flipX);
// Advance of `text` at line height `cell`.
float TextWidth(FontId font, const std::u32string& text, float cell, float iconScale);
// Draws `text` with the top of its line at y, starting at pen x; returns the
// pen after the last character.
float DrawGameText(Canvas& canvas, FontId font, const std::u32string& text, float x, float y,
                   float cell, const TextStyle& style, float iconScale);
// Decodes UTF-8 leniently: nothing is rejected or replaced.
std::u32string Utf32(const std::string& utf8);

} // namespace settings::menu_art
