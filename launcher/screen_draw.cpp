// Drawing primitives of the installer screen.
#include "launcher/screen_draw.h"

#include <algorithm>
#include <cfloat>

#include "launcher/ui_fonts.h"
#include "launcher/window.h"

View g_view;
ImDrawList* g_draw = nullptr;

const Style TITLE = {IM_COL32(236, 150, 20, 255), IM_COL32(70, 28, 0, 255)};
const Style INFO = {IM_COL32(150, 104, 46, 255), IM_COL32(84, 42, 2, 150)};
const Style MENU_SELECTED = {IM_COL32(255, 236, 120, 255), IM_COL32(120, 50, 0, 255)};
const Style MENU = {IM_COL32(250, 160, 30, 255), IM_COL32(70, 28, 0, 255)};
const Style SELECTED = {IM_COL32(150, 218, 212, 255), IM_COL32(30, 104, 110, 255)};
const Style NORMAL = {IM_COL32(214, 120, 14, 255), IM_COL32(70, 28, 0, 255)};
const Style WARNING = {IM_COL32(232, 64, 24, 255), IM_COL32(80, 16, 0, 255)};
const Style HELP = {IM_COL32(238, 226, 196, 255), IM_COL32(52, 28, 4, 255)};
const Style GOLD = {IM_COL32(255, 180, 40, 255), IM_COL32(80, 30, 0, 255)};

namespace {

const ImU32 UI_SHADOW = IM_COL32(40, 16, 0, 200);
const ImU32 FRAME_TINT = IM_COL32(236, 222, 190, 230);
const ImU32 PANEL_FILL = IM_COL32(20, 8, 0, 225);
const ImU32 PANEL_BORDER = IM_COL32(236, 222, 190, 200);
const ImU32 STAR_EMPTY = IM_COL32(84, 42, 2, 110);
const ImU32 CELL_EMPTY = IM_COL32(84, 42, 2, 120);
const ImU32 DIVIDER_TINT = IM_COL32(70, 28, 0, 255);
const ImU32 ICON_WHITE = IM_COL32(255, 255, 255, 255);

bool GameSlot(int font) { return font == 0 || font == 1; }

float WidthIn(ImFont* font, const std::string& text, float size) {
    if (!font || text.empty() || !(size > 0.0f)) return 0.0f;
    return font->CalcTextSizeA(size, FLT_MAX, 0.0f, text.data(), text.data() + text.size()).x;
}

// ImGui draws a text of size 0 at the draw list's default size, so a text
// shrunk to nothing is left out here.
void Text(ImFont* font, float size, ImVec2 at, ImU32 color, const std::string& text) {
    if (!g_draw || !font || text.empty() || !(size > 0.0f)) return;
    g_draw->AddText(font, size, at, color, text.data(), text.data() + text.size());
}

void Image(const Texture& t, ImVec2 a, ImVec2 b, ImVec2 uv0, ImVec2 uv1, ImU32 tint) {
    if (g_draw && t.view) g_draw->AddImage(t.Id(), a, b, uv0, uv1, tint);
}

} // namespace

View ViewFor(float W, float H) {
    View v;
    v.s = std::min(W / 1280.0f, H / 720.0f);
    v.ox = (W - 1280.0f * v.s) * 0.5f;
    v.oy = (H - 720.0f * v.s) * 0.5f;
    return v;
}

float TextWidth(int font, const std::string& text, float size) {
    if (!GameSlot(font)) return 0.0f;
    return WidthIn(g_fill[font], text, size);
}

void Draw(int font, const std::string& text, float x, float y, float size, const Style& style, float align,
          float maxWidth) {
    if (!GameSlot(font)) return;
    float width = TextWidth(font, text, size);
    float fitted = size;
    if (width > maxWidth && width > 0.0f) {
        fitted = size * maxWidth / width;
        y += (size - fitted) * 0.5f;
        width = maxWidth;
    }
    const float left = x - width * align;
    const ImVec2 at = g_view.P(left, y);
    Text(g_outline[font], fitted * g_view.s, at, style.outline, text);
    Text(g_fill[font], fitted * g_view.s, at, style.fill, text);
}

void DrawUi(const std::string& text, float x, float y, float size, ImU32 color, float align, float maxWidth) {
    const float width = WidthIn(g_ui, text, size);
    float fitted = size;
    float drawn = width;
    if (maxWidth < width) {
        fitted = size * maxWidth / width;
        drawn = maxWidth;
    }
    const float left = x - drawn * align;
    Text(g_ui, fitted * g_view.s, g_view.P(left + 1.5f, y + 1.5f), UI_SHADOW, text);
    Text(g_ui, fitted * g_view.s, g_view.P(left, y), color, text);
}

std::string IconText(char32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((code >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

float Icon(char32_t code, float x, float y, float size) {
    if (!g_haveFonts) return x;
    const std::string text = IconText(code);
    Text(g_fill[1], size * g_view.s, g_view.P(x, y), ICON_WHITE, text);
    return x + TextWidth(1, text, size);
}

void DrawFrame(float x0, float y0, float x1, float y1) {
    if (!g_draw) return;
    const ImVec2 a = g_view.P(x0, y0);
    const ImVec2 b = g_view.P(x1, y1);
    const float s = g_view.s;
    if (!g_frame.view || g_frame.w <= 0 || g_frame.h <= 0) {
        g_draw->AddRectFilled(a, b, PANEL_FILL, 18.0f * s);
        g_draw->AddRect(a, b, PANEL_BORDER, 18.0f * s, 0, 3.0f * s);
        return;
    }
    const float w = static_cast<float>(g_frame.w);
    const float h = static_cast<float>(g_frame.h);
    const float halfW = (b.x - a.x) * 0.5f;
    const float H = b.y - a.y;
    const float qh = std::min(H * 0.5f, 96.0f * s);
    const float k = qh / h;
    const float curlW = std::min(halfW, w * (1.0f / 3.0f) * k);
    const float lastRow = 1.0f - 2.0f / h;
    const float third = 1.0f / 3.0f;

    for (int q = 0; q < 4; ++q) {
        const bool flipX = (q & 1) != 0;
        const bool flipY = q >= 2;
        const float qy = flipY ? b.y - qh : a.y;
        const float cx0 = flipX ? b.x - curlW : a.x;
        const float ex0 = flipX ? a.x + halfW : a.x + curlW;
        const float ex1 = ex0 + halfW - curlW;
        const float cu0 = flipX ? third : 0.0f, cu1 = flipX ? 0.0f : third;
        const float eu0 = flipX ? 1.0f : third, eu1 = flipX ? third : 1.0f;
        const float v0 = flipY ? 1.0f : 0.0f, v1 = flipY ? 0.0f : 1.0f;
        Image(g_frame, ImVec2(cx0, qy), ImVec2(cx0 + curlW, qy + qh), ImVec2(cu0, v0), ImVec2(cu1, v1), FRAME_TINT);
        Image(g_frame, ImVec2(ex0, qy), ImVec2(ex1, qy + qh), ImVec2(eu0, v0), ImVec2(eu1, v1), FRAME_TINT);
        if (!flipY && H > 2.0f * qh) {
            const float top = a.y + qh, bottom = b.y - qh;
            Image(g_frame, ImVec2(cx0, top), ImVec2(cx0 + curlW, bottom), ImVec2(cu0, lastRow), ImVec2(cu1, 1.0f),
                  FRAME_TINT);
            Image(g_frame, ImVec2(ex0, top), ImVec2(ex1, bottom), ImVec2(eu0, lastRow), ImVec2(eu1, 1.0f),
                  FRAME_TINT);
        }
    }
}

void DrawStars(float x, float y, int value, int maximum, const Style& style) {
    if (!g_draw) return;
    // A maximum of 0 or below shows an empty bar instead of dividing by it.
    const float filled = maximum > 0 ? static_cast<float>(value) / static_cast<float>(maximum) * 10.0f : 0.0f;
    const float sy = y + 3.0f;
    for (int i = 0; i < 10; ++i) {
        const float sx = x + static_cast<float>(i) * 25.0f;
        const float part = std::min(filled - static_cast<float>(i), 1.0f);
        if (g_star.view) {
            Image(g_star, g_view.P(sx + 3.6f, sy + 3.6f), g_view.P(sx + 20.4f, sy + 20.4f), ImVec2(0, 0), ImVec2(1, 1),
                  STAR_EMPTY);
            if (filled > static_cast<float>(i)) {
                Image(g_star, g_view.P(sx - 1.5f, sy - 1.5f), g_view.P(sx - 1.5f + part * 27.0f, sy + 25.5f),
                      ImVec2(0, 0), ImVec2(part, 1), style.outline);
                Image(g_star, g_view.P(sx, sy), g_view.P(sx + part * 24.0f, sy + 24.0f), ImVec2(0, 0),
                      ImVec2(part, 1), style.fill);
            }
        } else {
            g_draw->AddRectFilled(g_view.P(sx, sy + 9.0f), g_view.P(sx + 21.0f, sy + 17.0f), CELL_EMPTY);
            if (filled > static_cast<float>(i))
                g_draw->AddRectFilled(g_view.P(sx, sy + 9.0f), g_view.P(sx + part * 21.0f, sy + 17.0f), style.fill);
        }
    }
}

void DrawPanelTitle(const std::string& title) {
    Draw(1, title, 859.0f, 26.0f, 36.0f, SELECTED, 0.5f, 1e9f);
    if (!g_dividerL.view || !g_dividerR.view || g_dividerL.h <= 0 || g_dividerR.h <= 0) return;
    const float wl = static_cast<float>(g_dividerL.w) * 18.0f / static_cast<float>(g_dividerL.h);
    const float wr = static_cast<float>(g_dividerR.w) * 18.0f / static_cast<float>(g_dividerR.h);
    Image(g_dividerL, g_view.P(851.0f - wl, 70.0f), g_view.P(851.0f, 88.0f), ImVec2(0, 0), ImVec2(1, 1), DIVIDER_TINT);
    Image(g_dividerR, g_view.P(867.0f, 70.0f), g_view.P(867.0f + wr, 88.0f), ImVec2(0, 0), ImVec2(1, 1), DIVIDER_TINT);
}
