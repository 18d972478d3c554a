// The P3D chunk walk and the image search over a package buffer: every chunk
// is visited and each of the eleven menu images is looked for.
#include "runtime/settings/menu_art_internal.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace ma = settings::menu_art;
    const std::vector<unsigned char> package(data, data + size);
    size_t chunks = 0, bytes = 0;
    auto count = [&](const ma::Chunk& c) {
        ++chunks;
        bytes += c.size;
        if ((c.id == ma::CHUNK_TEXTURE || c.id == ma::CHUNK_SPRITE) && c.header >= 14)
            bytes += ma::Pascal(package.data() + c.offset + 12, c.header - 13).size();
    };
    if (size >= 12) ma::Walk(package.data(), 0, size, count);
    for (const ma::ArtSource& s : ma::ART_SOURCES) {
        ma::Image image;
        if (ma::FindImage(package, s.name, image)) {
            bytes += image.px.size();
        } else if (image.w != 0 || !image.px.empty()) {
            __builtin_trap();  // what was not found is absent
        }
        if (image.w > 0 && image.px.size() != size_t(image.w) * size_t(image.h)) __builtin_trap();
    }
    return chunks == 0 && bytes == size_t(-1);
}
