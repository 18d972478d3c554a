#pragma once
// The drawing primitives of the installer screen: a fixed 1280 x 720 virtual
// screen scaled uniformly and centred in the window, the game's two-layer
// lettering, interface text with a shadow, framed panels, the star bar and the
// panel title with its ornaments. Everything adds to the draw list g_draw and
// runs on the main thread inside a frame.
#include <string>

#include "imgui.h"

// Virtual units -> window coordinates (ImGui display coordinates).
struct View {
    float s = 1.0f;   // scale
    float ox = 0.0f;  // window x of virtual x = 0
    float oy = 0.0f;  // window y of virtual y = 0
    ImVec2 P(float x, float y) const { return ImVec2(ox + x * s, oy + y * s); }
};

// The mapping for a display of W x H: the 16:9 virtual screen as large as it
// fits, centred.
View ViewFor(float W, float H);

extern View g_view;            // recomputed at the start of every frame
extern ImDrawList* g_draw;     // where the primitives draw

// The colours of one kind of text.
struct Style {
    ImU32 fill;
    ImU32 outline;
};

extern const Style TITLE;
extern const Style INFO;
extern const Style MENU_SELECTED;
extern const Style MENU;
extern const Style SELECTED;
extern const Style NORMAL;
extern const Style WARNING;
extern const Style HELP;
extern const Style GOLD;

// Width in virtual units of `text` in the fill font `font` (0 small, 1 large)
// at height `size`.
float TextWidth(int font, const std::string& text, float size);
// Game lettering: the outline layer under the fill layer. `align` 0 = left
// edge at x, 0.5 = centred, 1 = right edge; `y` is the top. Text wider than
// `maxWidth` shrinks (and stays centred on its line); pass 1e9 for no limit.
void Draw(int font, const std::string& text, float x, float y, float size, const Style& style, float align,
          float maxWidth);
// Interface text in g_ui with a drop shadow; shrinks to `maxWidth` likewise.
void DrawUi(const std::string& text, float x, float y, float size, ImU32 color, float align, float maxWidth);
// UTF-8 of one code point.
std::string IconText(char32_t code);
// One button-prompt glyph (a private-use code of the large game font) in
// white; returns the x where text may continue. Nothing without game fonts.
float Icon(char32_t code, float x, float y, float size);
// The framed panel over the virtual rectangle (x0, y0)-(x1, y1).
void DrawFrame(float x0, float y0, float x1, float y1);
// Ten stars at (x, y) filled to value / maximum.
void DrawStars(float x, float y, int value, int maximum, const Style& style);
// The right-hand panel's title with its two divider ornaments.
void DrawPanelTitle(const std::string& title);
