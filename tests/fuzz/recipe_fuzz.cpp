// ParseRecipe over arbitrary UTF-16 text (the input's bytes taken in pairs).
#include "runtime/settings/language_font_compose.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace lf = settings::language_font;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));
    const lf::Recipe untouched{1, 2, 3, 4, 5};
    lf::Recipe recipe = untouched;
    const bool ok = lf::ParseRecipe(text, recipe);
    std::u16string bare;
    for (char16_t c : text)
        if (c != u' ' && c != u'\t') bare.push_back(c);
    if (!ok) {
        if (recipe.target != 1 || recipe.base != 2 || recipe.accent != 3 || recipe.accentBase != 4 ||
            recipe.donor != 5) {
            __builtin_trap();  // a rejected text must leave the recipe alone
        }
        return 0;
    }
    if (bare.size() != 7 && bare.size() != 9) __builtin_trap();
    if (recipe.target != bare[0] || recipe.base != bare[2] || recipe.accent != bare[4] ||
        recipe.accentBase != bare[6] || recipe.donor != (bare.size() == 9 ? bare[8] : 0)) {
        __builtin_trap();
    }
    return 0;
}
