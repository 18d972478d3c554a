#pragma once
// Composition of accented letters that a game font lacks, from glyphs it has:
// "ã = a + ñ - n @ å" puts the accent that tells "ñ" from "n" on "a" and may
// reuse the cell of "å". The result is a rewritten P3D font chunk carrying the
// new glyphs on one extra texture page or painted into donor cells.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace settings::language_font {

struct Recipe {
    char16_t target = 0;
    char16_t base = 0;
    char16_t accent = 0;
    char16_t accentBase = 0;
    char16_t donor = 0;  // 0: no donor
};

// "T = B + A - N" or "T = B + A - N @ D" (spaces and tabs ignored). False,
// with `recipe` untouched, for anything else.
bool ParseRecipe(const std::u16string& text, Recipe& recipe);

// `data`/`size` is one whole font chunk (0x22000) of a P3D package. Appends
// to `out` the rewritten chunk (or an unchanged copy), appends a summary to
// `log` and returns the number of letters added.
int ComposeFont(const uint8_t* data, size_t size, const std::vector<Recipe>& recipes,
                std::vector<uint8_t>& out, std::string& log);

} // namespace settings::language_font
