#pragma once
// Builds P3D packages: trees of chunks with a little-endian 12-byte head (id,
// own-data size, total size), the game's texture, image and sprite chunks with
// embedded PNG files, and any other chunk from raw bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct P3dChunk {
    uint32_t id = 0;
    std::vector<uint8_t> data;        // own data after the 12-byte head
    std::vector<P3dChunk> children;
};

inline constexpr uint32_t P3D_ROOT = 0xFF443350;  // "P3D\xff"

// The chunk with its head and children, serialised.
std::vector<uint8_t> SerializeChunk(const P3dChunk& chunk);
// A package: one root chunk holding `chunks`.
std::vector<uint8_t> BuildPackage(const std::vector<P3dChunk>& chunks);

void AppendLE32(std::vector<uint8_t>& out, uint32_t value);
void AppendLEF(std::vector<uint8_t>& out, float value);
// The game's length-prefixed name: a length byte counting the text padded
// with NULs to a multiple of four (at least one NUL), then those bytes.
void AppendPascal(std::vector<uint8_t>& out, const std::string& name);

// An image chunk (0x19001) with its image-data child (0x19002) holding `png`.
P3dChunk ImageChunk(const std::string& name, const std::vector<uint8_t>& png, uint32_t width, uint32_t height);
// A texture chunk (0x19000) with one image.
P3dChunk TextureChunk(const std::string& name, const std::vector<uint8_t>& png, uint32_t width, uint32_t height);
// A sprite chunk (0x19005): size, tile count and one image chunk per tile.
struct SpriteTile {
    std::vector<uint8_t> png;
    uint32_t width = 0, height = 0;
};
P3dChunk SpriteChunk(const std::string& name, uint32_t width, uint32_t height, const std::vector<SpriteTile>& tiles);

} // namespace testsupport
