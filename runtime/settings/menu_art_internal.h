#pragma once
// Building blocks of settings::menu_art shared by its source files (and their
// tests): the byte readers, the RCF archive index, the P3D chunk walk and the
// decoding of texture and sprite chunks. Not part of the public interface.
#include "runtime/platform/file.h"
#include "runtime/settings/menu_art.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace settings::menu_art {

// ---- byte readers -----------------------------------------------------------

inline uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
float LEF(const uint8_t* p);
// Every byte through the C library's tolower (ASCII lower-casing).
std::string Lower(std::string_view text);

// ---- RCF archive ------------------------------------------------------------

// Entry names of the three packages the menu art comes from.
inline constexpr const char* PACKAGE_PERSISTENT = "package\\b4c85fe7.p3d";
inline constexpr const char* PACKAGE_INGAME = "package\\c1e387c7.p3d";
inline constexpr const char* PACKAGE_FRONTEND = "package\\cdd70a8c.p3d";

inline constexpr const char RCF_MAGIC[] = "ATG CORE CEMENT LIBRARY";  // 23 bytes compared
inline constexpr size_t RCF_HEADER_SIZE = 60;

// One open archive: the file and its index, lower-case entry name -> (offset, size).
struct Rcf {
    plat::File file;
    std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> entries;
};

// Opens "D:\default.rcf" through the mount table and indexes it. True only when
// the header, the directory and the name table were read in full.
bool OpenRcf(Rcf& rcf);
// The same on a host path (OpenRcf resolves the guest path and calls this).
bool OpenRcfFile(Rcf& rcf, const std::filesystem::path& host);
// The whole entry, from a mod's loose file when one exists, else from the
// archive; source says which ("mod <name>" or "default.rcf").
bool ReadEntry(Rcf& rcf, const std::string& entry, std::vector<unsigned char>& data, std::string& source);
// One positioned read of exactly size bytes.
bool ReadAt(const plat::File& file, uint64_t offset, void* data, uint32_t size);

// ---- P3D chunks -------------------------------------------------------------

inline constexpr uint32_t CHUNK_TEXTURE = 0x19000;
inline constexpr uint32_t CHUNK_IMAGE = 0x19001;
inline constexpr uint32_t CHUNK_IMAGE_DATA = 0x19002;
inline constexpr uint32_t CHUNK_SPRITE = 0x19005;
inline constexpr uint32_t CHUNK_FONT = 0x22000;
inline constexpr uint32_t CHUNK_GLYPHS = 0x22001;

// A chunk of a package buffer: positions only, nothing is copied.
struct Chunk {
    uint32_t id = 0;
    size_t offset = 0;  // first byte in the buffer
    size_t header = 0;  // own data including the 12-byte head
    size_t size = 0;    // own data and all children
};

// The chunks lying back to back in [begin, end); a malformed head ends the list.
std::vector<Chunk> Children(const uint8_t* data, size_t begin, size_t end);

// Calls visit(chunk) for every chunk in [begin, end) and its descendants, depth
// first, parent before children, siblings in file order. Deeply nested data
// cannot exhaust the stack: the walk keeps its own stack of sibling lists.
template <class Visit>
void Walk(const uint8_t* data, size_t begin, size_t end, Visit& visit) {
    struct Level {
        std::vector<Chunk> chunks;
        size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back({Children(data, begin, end), 0});
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.chunks.size()) {
            stack.pop_back();
            continue;
        }
        const Chunk c = level.chunks[level.next++];
        visit(c);
        std::vector<Chunk> kids = Children(data, c.offset + c.header, c.offset + c.size);
        if (!kids.empty()) stack.push_back({std::move(kids), 0});
    }
}

// A length-prefixed name: length byte p[0], then at most min(p[0], limit)
// bytes, ending early at a NUL.
std::string Pascal(const uint8_t* p, size_t limit);
// Straight RGBA bytes (w x h x 4) to premultiplied words, rounding to nearest.
bool Premultiplied(const std::vector<unsigned char>& rgba, int w, int h, Image& image);
// The premultiplied words of `count` straight RGBA pixels (4 bytes each).
void PremultiplyPixels(const uint8_t* rgba, size_t count, uint32_t* out);
// The same with the instruction set limited to `level` (1 plain C++, 2 SSE2,
// 3 AVX2), for tests of each path; PremultiplyLevels() is the highest this
// processor runs.
void PremultiplyPixelsAt(int level, const uint8_t* rgba, size_t count, uint32_t* out);
int PremultiplyLevels();
// The PNG bytes of the first image of a texture or sprite chunk (what
// OwnerImage decodes); false when that image has no complete data chunk.
bool OwnerPng(const uint8_t* data, const Chunk& owner, const uint8_t*& png, size_t& size);
// Decodes the first image of a texture or sprite chunk.
bool OwnerImage(const uint8_t* data, const Chunk& owner, Image& image);
// A copy of the rectangle, its size clamped to the image; x, y inside the image.
Image Crop(const Image& image, int x, int y, int w, int h);
// Assembles a sprite stored as several bordered tiles.
bool StitchSprite(const uint8_t* data, const Chunk& owner, int width, int height, Image& image);
// Finds the texture or sprite named `name` (any case) and decodes it.
bool FindImage(const std::vector<unsigned char>& package, const std::string& name, Image& image);

// Where each menu image comes from, indexed by Art.
struct ArtSource {
    Art art;
    const char* package;  // archive entry name of the package
    const char* name;     // texture or sprite chunk name
};
extern const ArtSource ART_SOURCES[ART_COUNT];

} // namespace settings::menu_art
