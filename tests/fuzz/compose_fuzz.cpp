// ComposeFont over an arbitrary font chunk: it never fails outright, and what
// it appends is either the input unchanged or a chunk whose size fields hold.
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
    const int placed = lf::ComposeFont(data, size, recipes, out, log);
    if (placed < 0 || placed > int(recipes.size())) __builtin_trap();
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
