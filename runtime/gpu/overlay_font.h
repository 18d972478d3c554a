#pragma once
// The 5 x 7 fallback font drawn when the game's own fonts are missing. Each
// glyph is 7 rows of 5 columns, read row by row: '#' is ink, '.' background.
// There are no lower-case letters; callers upper-case text before lookup.

namespace gpu::overlay_font {

struct Glyph {
    char ch;
    const char* rows; // 35 characters
};

constexpr int COLUMNS = 5;
constexpr int ROWS = 7;
constexpr int GLYPH_COUNT = 57;

extern const Glyph GLYPHS[GLYPH_COUNT];

// The glyph of `ch`, or null when the font has none.
const Glyph* Find(char ch);

// Whether the pixel at (column, row) of `glyph` is ink; false outside the grid.
bool Ink(const Glyph& glyph, int column, int row);

} // namespace gpu::overlay_font
