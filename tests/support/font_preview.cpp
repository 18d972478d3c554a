// The font sample sheet drawn with the installer's own text functions.
#include "tests/support/font_preview.h"

#include "runtime/gpu/png_writer.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "tests/support/font_fixture.h"

#include <algorithm>
#include <cmath>

namespace testsupport {

namespace ma = settings::menu_art;

namespace {

struct NamedStyle {
    const char* name;
    ma::TextStyle style;
};

// The screen's text styles (fill, outline).
const NamedStyle STYLES[] = {
    {"TITLE", {{236, 150, 20, 255}, {70, 28, 0, 255}, 1.0f}},
    {"INFO", {{150, 104, 46, 255}, {84, 42, 2, 150}, 1.0f}},
    {"MENU_SELECTED", {{255, 236, 120, 255}, {120, 50, 0, 255}, 1.0f}},
    {"MENU", {{250, 160, 30, 255}, {70, 28, 0, 255}, 1.0f}},
    {"SELECTED", {{150, 218, 212, 255}, {30, 104, 110, 255}, 1.0f}},
    {"NORMAL", {{214, 120, 14, 255}, {70, 28, 0, 255}, 1.0f}},
    {"WARNING", {{232, 64, 24, 255}, {80, 16, 0, 255}, 1.0f}},
    {"HELP", {{238, 226, 196, 255}, {52, 28, 4, 255}, 1.0f}},
    {"GOLD", {{255, 180, 40, 255}, {80, 30, 0, 255}, 1.0f}},
};

const char* const SAMPLES[] = {
    "INSTALAÇÃO CONCLUÍDA",
    "PRÉ-REQUISITOS",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
    "abcdefghijklmnopqrstuvwxyz",
    "0123456789 .,:;!?()[]-+=%/#@*",
    "ÃÕÊÔ ãõêô ÁÉÍÓÚ áéíóú ÂÎÛ Çç Ññ ÀÈ",
    "Não há espaço: São Paulo, Ações, Opções, Você",
};

constexpr int SHEET_W = 1800;
constexpr int MARGIN = 24;

struct Sheet {
    ma::Canvas& canvas;
    float y = MARGIN;
    const ma::TextStyle label{{238, 226, 196, 255}, {40, 20, 4, 255}, 1.0f};

    void Heading(const std::string& text) {
        y += 10;
        ma::DrawGameText(canvas, ma::FontId::Small, ma::Utf32(text), MARGIN, y, 30, label, 1);
        canvas.Fill(MARGIN, int(y) + 34, SHEET_W - MARGIN, int(y) + 36, {150, 104, 46, 255});
        y += 44;
    }
    void Line(ma::FontId font, const std::string& text, float cell, const ma::TextStyle& style) {
        ma::DrawGameText(canvas, font, ma::Utf32(text), MARGIN, y, cell, style, 1);
        y += cell * 1.1f;
    }
};

void FontSection(Sheet& s, ma::FontId font, const char* title, float cell) {
    s.Heading(title);
    size_t style = 0;
    for (const char* text : SAMPLES) s.Line(font, text, cell, STYLES[style++ % std::size(STYLES)].style);

    // Every icon: inside text in the large font (where icons are glyphs), drawn
    // with DrawIcon beside the small font's text.
    float x = MARGIN;
    const ma::TextStyle& help = STYLES[7].style;
    for (uint32_t code = ICON_FIRST; code <= ICON_LAST; ++code) {
        if (font == ma::FontId::Large) {
            x = ma::DrawGameText(s.canvas, font, std::u32string(1, char32_t(code)) + U" ", x, s.y, cell, help, 0.9f);
        } else {
            x += ma::DrawIcon(s.canvas, char32_t(code), x, s.y + cell * 0.05f, cell * 0.9f, 1, false) + cell * 0.25f;
        }
    }
    x = ma::DrawGameText(s.canvas, font, U" PRESS ", x, s.y, cell, help, 1);
    x += ma::DrawIcon(s.canvas, char32_t(ICON_FIRST), x, s.y + cell * 0.05f, cell * 0.9f, 1, false);
    ma::DrawGameText(s.canvas, font, U" TO INSTALL", x, s.y, cell, help, 1);
    s.y += cell * 1.2f;

    // The styles side by side.
    x = MARGIN;
    for (const NamedStyle& named : STYLES) {
        x = ma::DrawGameText(s.canvas, font, ma::Utf32(named.name), x, s.y, cell * 0.6f, named.style, 1) + cell * 0.4f;
    }
    s.y += cell * 0.8f;
}

void OverlaySection(Sheet& s) {
    s.Heading("OVERLAY FONT (NO GAME FONTS)");
    size_t style = 0;
    for (const char* text : SAMPLES) s.Line(ma::FontId::Small, text, 27, STYLES[style++ % std::size(STYLES)].style);
}

void PagesSection(Sheet& s) {
    // The pages as the loader cut them, on a checkerboard, small font first.
    float x = MARGIN;
    float rowH = 0;
    for (ma::FontId id : {ma::FontId::Small, ma::FontId::Large}) {
        const ma::Font* font = ma::LoadedFont(id);
        if (!font) continue;
        for (const ma::Image& page : font->pages) {
            if (page.w == 0) continue;
            if (x + float(page.w) > SHEET_W - MARGIN) {
                x = MARGIN;
                s.y += rowH + 12;
                rowH = 0;
            }
            for (int y = 0; y < page.h; y += 16) {
                for (int cx = 0; cx < page.w; cx += 16) {
                    const bool dark = ((y + cx) / 16) % 2 == 0;
                    const ma::Color c = dark ? ma::Color{60, 64, 72, 255} : ma::Color{84, 88, 96, 255};
                    s.canvas.Fill(int(x) + cx, int(s.y) + y, int(x) + std::min(cx + 16, page.w),
                                  int(s.y) + std::min(y + 16, page.h), c);
                }
            }
            s.canvas.Blit(page, int(x), int(s.y), {255, 255, 255, 255}, 0x40000000);
            x += float(page.w) + 12;
            rowH = std::max(rowH, float(page.h));
        }
    }
    s.y += rowH + 12;
}

void Backdrop(ma::Canvas& canvas) {
    canvas.FillGradient(0, 0, canvas.Width(), canvas.Height(), {34, 22, 14, 255}, {12, 16, 24, 255});
}

} // namespace

bool UsePackageFonts(const std::vector<uint8_t>& persistent, std::string& log) {
    ma::Font small, large;
    const bool ok = ma::LoadFont(persistent, "Ombrax_Small", small, log) &&
                    ma::LoadFont(persistent, "Ombrax_Large", large, log);
    ma::testing::PublishFonts(std::move(small), std::move(large), ok);
    ma::ClearCache();
    return ok;
}

void DrawFontSheet(ma::Canvas& canvas) {
    const bool fonts = ma::FontsOk();
    // Two passes: the first measures the height, the second draws.
    for (int pass = 0; pass < 2; ++pass) {
        ma::Canvas scratch;
        ma::Canvas& target = pass == 0 ? scratch : canvas;
        if (pass == 0) {
            target.Reset(SHEET_W, 1);
        } else {
            Backdrop(target);
        }
        Sheet s{target};
        if (fonts) {
            FontSection(s, ma::FontId::Small, "SMALL FONT  Ombrax_Small  44 PX", 44);
            FontSection(s, ma::FontId::Large, "LARGE FONT  Ombrax_Large  60 PX", 60);
            FontSection(s, ma::FontId::Small, "SMALL FONT AT ITS OWN SIZE", float(ma::LoadedFont(ma::FontId::Small)->cell));
            ma::testing::SetFontsOk(false);
            OverlaySection(s);
            ma::testing::SetFontsOk(true);
            s.Heading("FONT PAGES");
            PagesSection(s);
        } else {
            OverlaySection(s);
        }
        if (pass == 0) canvas.Reset(SHEET_W, int(std::ceil(s.y)) + MARGIN);
    }
}

bool WriteCanvasPng(const ma::Canvas& canvas, const std::filesystem::path& path) {
    std::vector<uint32_t> pixels;
    canvas.Export(pixels);
    return gpu::WritePng(path, reinterpret_cast<const uint8_t*>(pixels.data()), uint32_t(canvas.Width()),
                         uint32_t(canvas.Height()), uint32_t(canvas.Width()) * 4);
}

} // namespace testsupport
