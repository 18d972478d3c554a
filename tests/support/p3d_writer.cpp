#include "tests/support/p3d_writer.h"

#include <cstring>

namespace testsupport {

void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

void AppendLEF(std::vector<uint8_t>& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendLE32(out, bits);
}

void AppendPascal(std::vector<uint8_t>& out, const std::string& name) {
    const size_t padded = (name.size() / 4 + 1) * 4;
    out.push_back(uint8_t(padded));
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), padded - name.size(), 0);
}

std::vector<uint8_t> SerializeChunk(const P3dChunk& chunk) {
    std::vector<uint8_t> kids;
    for (const P3dChunk& c : chunk.children) {
        const std::vector<uint8_t> k = SerializeChunk(c);
        kids.insert(kids.end(), k.begin(), k.end());
    }
    std::vector<uint8_t> out;
    out.reserve(12 + chunk.data.size() + kids.size());
    AppendLE32(out, chunk.id);
    AppendLE32(out, uint32_t(12 + chunk.data.size()));
    AppendLE32(out, uint32_t(12 + chunk.data.size() + kids.size()));
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    out.insert(out.end(), kids.begin(), kids.end());
    return out;
}

std::vector<uint8_t> BuildPackage(const std::vector<P3dChunk>& chunks) {
    P3dChunk root;
    root.id = P3D_ROOT;
    root.children = chunks;
    return SerializeChunk(root);
}

P3dChunk ImageChunk(const std::string& name, const std::vector<uint8_t>& png, uint32_t width, uint32_t height) {
    P3dChunk image;
    image.id = 0x19001;
    AppendPascal(image.data, name);
    AppendLE32(image.data, 14000);  // version
    AppendLE32(image.data, width);
    AppendLE32(image.data, height);
    AppendLE32(image.data, 32);     // bits per pixel
    AppendLE32(image.data, 0);      // palettised
    AppendLE32(image.data, 1);      // has alpha
    AppendLE32(image.data, 1);      // format: PNG
    P3dChunk pixels;
    pixels.id = 0x19002;
    AppendLE32(pixels.data, uint32_t(png.size()));
    pixels.data.insert(pixels.data.end(), png.begin(), png.end());
    image.children.push_back(std::move(pixels));
    return image;
}

P3dChunk TextureChunk(const std::string& name, const std::vector<uint8_t>& png, uint32_t width, uint32_t height) {
    P3dChunk texture;
    texture.id = 0x19000;
    AppendPascal(texture.data, name);
    AppendLE32(texture.data, 14000);  // version
    AppendLE32(texture.data, width);
    AppendLE32(texture.data, height);
    AppendLE32(texture.data, 32);     // bits per pixel
    AppendLE32(texture.data, 8);      // alpha depth
    AppendLE32(texture.data, 1);      // mip levels
    AppendLE32(texture.data, 0);      // texture type
    AppendLE32(texture.data, 0);      // usage
    AppendLE32(texture.data, 0);      // priority
    texture.children.push_back(ImageChunk(name, png, width, height));
    return texture;
}

P3dChunk SpriteChunk(const std::string& name, uint32_t width, uint32_t height, const std::vector<SpriteTile>& tiles) {
    P3dChunk sprite;
    sprite.id = 0x19005;
    AppendPascal(sprite.data, name);
    // Nine bytes the menu code does not read: a shader name length of zero
    // and two words of flags.
    sprite.data.push_back(0);
    AppendLE32(sprite.data, 0);
    AppendLE32(sprite.data, 0x00010000);
    AppendLE32(sprite.data, width);
    AppendLE32(sprite.data, height);
    AppendLE32(sprite.data, uint32_t(tiles.size()));
    for (size_t i = 0; i < tiles.size(); ++i)
        sprite.children.push_back(ImageChunk(name + "_" + std::to_string(i), tiles[i].png, tiles[i].width, tiles[i].height));
    return sprite;
}

} // namespace testsupport
