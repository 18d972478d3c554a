#pragma once
// Composition of accented letters that a game font lacks, from glyphs it has:
// "ã = a + ñ - n @ å" puts the accent that tells "ñ" from "n" on "a" and may
// reuse the cell of "å". The result is a rewritten P3D font chunk carrying the
// new glyphs on one extra texture page or painted into donor cells.
#include <cstddef>
#include <cstdint>
#include "runtime/settings/language_font.h"

#include <map>
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

// Pixels of the pages ComposeFont decoded or drew, keyed by where the PNG of
// each texture's first image lies in the chunk it appended (offset from the
// chunk's first byte): a reader of that chunk takes them instead of decoding
// the same bytes again.
struct KnownPages {
    struct Pixels {
        size_t pngSize = 0;
        int w = 0;
        int h = 0;
        PngPixels decoded;    // straight RGBA in the decoder's buffer, or
        EncodedPixels drawn;  // a page the composer drew and encoded
    };
    std::map<size_t, Pixels> byOffset;
    // The pixels of the PNG of `size` bytes at `offset`, or null.
    const Pixels* Find(size_t offset, size_t size) const {
        auto found = byOffset.find(offset);
        return found != byOffset.end() && found->second.pngSize == size ? &found->second : nullptr;
    }
};

// ComposeFont that also fills `known` (when not null).
int ComposeFont(const uint8_t* data, size_t size, const std::vector<Recipe>& recipes,
                std::vector<uint8_t>& out, std::string& log, KnownPages* known);

} // namespace settings::language_font
