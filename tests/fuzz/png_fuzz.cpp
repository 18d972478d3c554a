// PNG decoding as used for the game's embedded textures (4096-pixel limit),
// and the chunk lookup used on font pages.
#include "runtime/settings/language_font.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int w = -1, h = -1;
    std::vector<uint8_t> rgba;
    if (settings::language_font::DecodePng(data, size, w, h, rgba)) {
        if (w <= 0 || h <= 0 || w > 4096 || h > 4096 || rgba.size() != size_t(w) * size_t(h) * 4) __builtin_trap();
    } else if (w != -1 || h != -1 || !rgba.empty()) {
        __builtin_trap();  // a failed decode leaves its outputs alone
    }
    const std::vector<uint8_t> plte = settings::language_font::PngChunk(data, size, "PLTE");
    const std::vector<uint8_t> trns = settings::language_font::PngChunk(data, size, "tRNS");
    return int(plte.size() + trns.size()) == -1;
}
