#pragma once
// Bitmap fonts in the game's P3D font format, rendered by our own code from a
// system TrueType font: each glyph is a full-line-height cell whose alpha
// ramps from a soft outline edge (low) through the outline (105) to the
// letter's body (255), packed into palette PNG pages with a glyph table.
//
// GameFonts() gives the synthetic dump's two fonts, "Ombrax_Small" and
// "Ombrax_Large": printable ASCII and the Latin-1 letters except ã, õ, Ã, Õ,
// Ê and Ô (which the loader composes), and in the large font the button
// icons under codes 177 to 190 (icon flag set).
#include "tests/support/p3d_writer.h"

#include "runtime/settings/language_font.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using FontImage = settings::language_font::Image;  // straight RGBA bytes

// One 40-byte glyph record as the font chunk stores it.
struct FontGlyphRecord {
    uint32_t texture = 0;  // page index; bit 31: icon
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;  // v measured from the bottom of the page
    float left = 0, right = 0, width = 0, advance = 0;
    uint32_t code = 0;
};

// A texture page of a font chunk.
struct FontPage {
    std::string name;        // texture name, e.g. "ombrax_small_0.bmp"
    FontImage image;
    bool palette = false;    // written as a palette PNG with FontPalette()
};

// The record of the pixel rectangle [x0, x1) x [y0, y1) on a pageW x pageH page.
FontGlyphRecord RectRecord(uint32_t code, uint32_t texture, int x0, int y0, int x1, int y1, int pageW,
                           int pageH, float left, float advance);

// The 256-entry palette of the font pages: entry i has alpha i and a grey
// that runs from black (outline) to white (body).
void FontPalette(std::vector<uint8_t>& plte, std::vector<uint8_t>& trns);

// A font chunk (0x22000): own data = version, name, size, line height,
// baseline, texture count (the last word); children = the glyph table
// (0x22001) and one texture (0x19000) per page.
P3dChunk FontChunk(const std::string& name, const std::vector<FontPage>& pages,
                   const std::vector<FontGlyphRecord>& records);

// Codes of the button icons of the large font.
inline constexpr uint32_t ICON_FIRST = 177;
inline constexpr uint32_t ICON_LAST = 190;
// Their names, ICON_LAST - ICON_FIRST + 1 of them ("A", "B", ... "GUIDE").
const char* IconName(uint32_t code);

// The characters the fixture fonts carry (letters, not icons), ascending.
std::vector<uint32_t> FixtureCharacters();

struct GameFontSet {
    P3dChunk small;  // "Ombrax_Small"
    P3dChunk large;  // "Ombrax_Large"
};

// Renders both fonts (once per process; later calls return the same). False
// with `error` set when no TrueType font could be found (VELKOR_FIXTURE_TTF
// names one explicitly; otherwise DejaVu Sans Bold is looked for).
bool GameFonts(GameFontSet& fonts, std::string* error = nullptr);
// The two chunks serialised, ready to place in a package's root.
bool GameFontChunkBytes(std::vector<uint8_t>& small, std::vector<uint8_t>& large, std::string* error = nullptr);

} // namespace testsupport
