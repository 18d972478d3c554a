#pragma once
// The game's menu art: images taken from the P3D packages inside the user's
// default.rcf archive, decoded into premultiplied 32-bit pixels.
#include <cstdint>
#include <vector>

namespace settings::menu_art {

// Pixel word: bits 0-7 red, 8-15 green, 16-23 blue, 24-31 alpha (bytes R, G,
// B, A in memory); red, green and blue are premultiplied by alpha.
struct Image {
    int w = 0;  // 0: there is no image
    int h = 0;
    std::vector<uint32_t> px;  // w x h words, rows top to bottom, no padding
};

// The menu images the installer takes from the game.
enum class Art : int {
    StarFull = 0,
    PauseStrip = 1,
    MessageFrame = 2,
    DividerLeft = 3,
    DividerRight = 4,
    BackdropWeave = 5,
    BackdropFold = 6,
    FoliageTop = 7,
    FoliageBottom = 8,
    LightMap = 9,
    TitleLogo = 10,
    Count = 11,
};

constexpr int ART_COUNT = static_cast<int>(Art::Count);

} // namespace settings::menu_art
