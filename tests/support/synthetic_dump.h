#pragma once
// The synthetic game dump: a folder that looks like a disc dump to the
// installer (default.xex, the four RCF archives, shaders/), with our own art
// in the three menu packages of default.rcf.
#include "tests/support/art_painter.h"
#include "tests/support/p3d_writer.h"
#include "tests/support/rcf_writer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

inline constexpr size_t SYNTHETIC_XEX_SIZE = 65536;

// "XEX2", then byte i = ((i * 2654435761) mod 2^32) >> 24 for i = 4 .. 65535.
std::vector<uint8_t> SyntheticXex();

// A sprite of one tile: the image with a one-pixel border (edge pixels repeated).
SpriteTile BorderedTile(const RgbaImage& image);
// The image cut into bordered tiles whose interiors are at most tileW x tileH,
// in the order the game stitches them (rows top to bottom, left to right).
std::vector<SpriteTile> SpriteTiles(const RgbaImage& image, int tileW, int tileH);
// The image stored as a texture chunk.
P3dChunk ArtTexture(const std::string& name, const RgbaImage& image);

// The chunks (below the root) of the three menu packages.
struct MenuPackages {
    std::vector<P3dChunk> persistent;  // package\b4c85fe7.p3d
    std::vector<P3dChunk> inGame;      // package\c1e387c7.p3d
    std::vector<P3dChunk> frontend;    // package\cdd70a8c.p3d
};
MenuPackages SyntheticMenuPackages();

// The entries of default.rcf: the three packages under mixed-case names, and
// a few other entries around them.
std::vector<RcfEntry> SyntheticDefaultRcf(const MenuPackages& packages);

// Writes the whole dump into `folder` (created if needed). False with `error`
// set when something could not be written.
bool WriteSyntheticDump(const std::filesystem::path& folder, std::string& error);

// Which of the two game fonts (tests/support/font_fixture.h) the persistent
// package of default.rcf carries.
enum class GameFontsIn { None, Both, LargeOnly };
// Writes folder/default.rcf (the folder created if needed) from the synthetic
// menu packages with those fonts and no other font chunk. False with `error`
// set when the fonts could not be rendered or the file not written.
bool WriteDefaultRcf(const std::filesystem::path& folder, GameFontsIn fonts, std::string& error);

// Sets up paths and the mount table as the program does when started with
// "--game <game>".
void MountGame(const std::filesystem::path& game);

} // namespace testsupport
