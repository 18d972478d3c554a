// ComposeFont over an arbitrary font chunk: it never fails outright, what it
// appends is either the input unchanged or a chunk whose size fields hold,
// and the page pixels it hands on are what decoding those pages gives.
#include "runtime/settings/language_font_compose.h"
#include "runtime/settings/menu_art_internal.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lf = settings::language_font;
namespace ma = settings::menu_art;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<lf::Recipe> recipes = [] {
        std::vector<lf::Recipe> r;
        for (const char16_t* text : {u"ã = a + ñ - n @ å", u"õ = o + ñ - n @ ò", u"Ã = A + Ñ - N @ Å",
                                     u"Õ = O + Ñ - N @ Ò", u"Ê = E + Â - A @ È", u"Ô = O + Â - A @ Ö"}) {
            lf::Recipe recipe;
            if (lf::ParseRecipe(text, recipe)) r.push_back(recipe);
        }
        return r;
    }();
    std::vector<uint8_t> out;
    std::string log;
    lf::KnownPages known;
    const int placed = lf::ComposeFont(data, size, recipes, out, log, &known);
    if (placed < 0 || placed > int(recipes.size())) __builtin_trap();
    // Every page it says it knows decodes to exactly those pixels.
    for (const auto& [offset, pixels] : known.byOffset) {
        if (offset > out.size() || pixels.pngSize > out.size() - offset) __builtin_trap();
        int w = 0, h = 0;
        std::vector<uint8_t> rgba;
        if (!lf::DecodePng(out.data() + offset, pixels.pngSize, w, h, rgba)) __builtin_trap();
        if (w != pixels.w || h != pixels.h) __builtin_trap();
        const lf::EncodedPixels& drawn = pixels.drawn;
        if (!drawn.known) {
            if (!pixels.decoded || std::memcmp(rgba.data(), pixels.decoded.get(), rgba.size()) != 0) __builtin_trap();
        } else if (drawn.raw.empty()) {
            if (rgba != drawn.rgba) __builtin_trap();
        } else {
            for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
                const uint32_t entry = drawn.palette[drawn.raw[i / size_t(w) * (size_t(w) + 1) + 1 + i % size_t(w)]];
                for (size_t c = 0; c < 4; ++c)
                    if (rgba[i * 4 + c] != uint8_t(entry >> (8 * c))) __builtin_trap();
            }
        }
    }
    if (placed == 0) {
        if (out.size() != size || (size && std::memcmp(out.data(), data, size) != 0)) __builtin_trap();
        return 0;
    }
    // A rewritten chunk: its total size is what was written, and its children
    // cover it exactly.
    if (out.size() < 16 || ma::LE32(out.data() + 8) != out.size()) __builtin_trap();
    const size_t header = ma::LE32(out.data() + 4);
    size_t covered = header;
    for (const ma::Chunk& c : ma::Children(out.data(), header, out.size())) covered += c.size;
    if (covered != out.size()) __builtin_trap();
    if (log.find(" composed ") == std::string::npos) __builtin_trap();
    return 0;
}
