// LoadFont over an arbitrary package buffer, and text drawn with whatever it
// loaded: nothing may crash, hang or read out of bounds, and the pages taken
// from the composer equal the decoded ones.
#include "runtime/settings/menu_art_fonts_internal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ma = settings::menu_art;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> package(data, data + size);
    std::string log;
    ma::Font small, large;
    const bool ok = ma::LoadFont(package, "Ombrax_Small", small, log);
    // Taking the pages the composer already decoded or drew must give what
    // decoding every page of the composed chunk gives.
    {
        ma::Font decoded;
        std::string log2;
        ma::testing::SetReuseComposedPages(false);
        const bool ok2 = ma::LoadFont(package, "Ombrax_Small", decoded, log2);
        ma::testing::SetReuseComposedPages(true);
        if (ok2 != ok || log2 != log) __builtin_trap();
        if (ok) {
            if (decoded.pages.size() != small.pages.size() || decoded.glyphs.size() != small.glyphs.size()) __builtin_trap();
            for (size_t i = 0; i < small.pages.size(); ++i) {
                if (decoded.pages[i].w != small.pages[i].w || decoded.pages[i].px != small.pages[i].px) __builtin_trap();
            }
            for (const auto& [code, glyph] : small.glyphs) {
                auto other = decoded.glyphs.find(code);
                if (other == decoded.glyphs.end() || other->second.cell.px != glyph.cell.px) __builtin_trap();
            }
        }
    }
    if (ok) {
        if (small.name != "Ombrax_Small" || small.cell <= 0) __builtin_trap();
        for (const auto& [code, glyph] : small.glyphs) {
            if (glyph.empty) continue;
            if (glyph.x0 < 0 || glyph.y0 < 0 || glyph.x1 <= glyph.x0 || glyph.y1 <= glyph.y0) __builtin_trap();
            if (!glyph.icon && (glyph.cell.w != glyph.x1 - glyph.x0 || glyph.cell.h != glyph.y1 - glyph.y0)) {
                __builtin_trap();
            }
        }
        // Draw with it: the same font serves as both, so icons come from it too.
        large = small;
        ma::testing::PublishFonts(std::move(small), std::move(large), true);
        ma::Canvas canvas;
        canvas.Reset(96, 40);
        const ma::TextStyle style{{255, 255, 255, 255}, {0, 0, 0, 255}, 1.0f};
        std::u32string text = U"Aa ãÔ\u00B1";
        for (size_t i = 0; i < size && i < 4; ++i) text.push_back(char32_t(data[size - 1 - i]) + 0x20);
        ma::DrawGameText(canvas, ma::FontId::Small, text, 2, 2, 30, style, 1);
        ma::DrawGameText(canvas, ma::FontId::Large, text, -10, 20, 7, style, 0.5f);
        ma::TextWidth(ma::FontId::Small, text, 1e6f, 1);
        ma::ClearCache();
        ma::testing::PublishFonts({}, {}, false);
    }
    return 0;
}
