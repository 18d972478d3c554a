#pragma once
// The installer screen's fonts and textures made from the game's art: Dear
// ImGui fonts whose glyphs are the game's letters (an outline layer and a fill
// layer), SDL textures of the single menu images, and the window-sized
// background picture composed on the processor. Main thread only.
#include <SDL3/SDL.h>

#include <cstdint>
#include <vector>

#include "imgui.h"
#include "runtime/settings/menu_art_fonts.h"

// An art image on the GPU. The renderer owns the texture; only the background
// is destroyed explicitly (ReleaseTexture), the rest go with the renderer.
struct Texture {
    SDL_Texture* view = nullptr;  // null when there is none
    int w = 0;                    // texels
    int h = 0;
    ImTextureID Id() const { return static_cast<ImTextureID>(reinterpret_cast<intptr_t>(view)); }
};

extern Texture g_logo;      // Art::TitleLogo
extern Texture g_star;      // Art::StarFull
extern Texture g_frame;     // Art::MessageFrame
extern Texture g_dividerL;  // Art::DividerLeft
extern Texture g_dividerR;  // Art::DividerRight
extern Texture g_backdrop;  // the composed background (rebuilt by the frame loop)

extern ImFont* g_ui;          // the system interface font, 30 px
extern ImFont* g_fill[2];     // fill layer: 0 = FontId::Small at 44 px, 1 = FontId::Large at 60 px
extern ImFont* g_outline[2];  // outline layer, same indexing and sizes

// A glyph image waiting to be copied into the font atlas.
struct PendingGlyph {
    int rect = -1;              // the atlas rectangle reserved for it
    std::vector<uint32_t> px;   // rect width x height, straight RGBA bytes R, G, B, A
};

// The button-prompt icons of the game fonts (codes 177-190) are registered at
// this private-use offset: U+E0B1 ... U+E0BE.
inline constexpr char32_t ICON_CODE_BASE = 0xE000;

// Builds the whole ImGui font atlas of the current context: the system font
// and, when g_haveFonts is set, the game glyphs over it.
void BuildFonts();
// Reserves atlas rectangles for the game glyphs of one font (letters in both
// layers, button icons) and collects their pixels into `pending`.
void AddGameGlyphs(ImFontAtlas* atlas, settings::menu_art::FontId id, float px,
                   std::vector<PendingGlyph>& pending);
// A texture of one art image; empty when the image is missing. The size is the
// image's even when no texture could be made.
Texture ArtTexture(settings::menu_art::Art art);
// The image's pixels un-premultiplied (rounding down); alpha 0 gives 0.
std::vector<uint32_t> Straight(const settings::menu_art::Image& image);
// A static, alpha-blended, linearly filtered texture of straight RGBA words in
// g_renderer; null when `px` is null, a side is not positive or SDL fails.
SDL_Texture* MakeTexture(const uint32_t* px, int w, int h);
// Destroys the texture if any and clears the pointer.
void ReleaseTexture(SDL_Texture*& texture);
// The background picture for a W x H pixel window (opaque straight RGBA words);
// `s` is the virtual-screen scale min(W / 1280, H / 720).
std::vector<uint32_t> ComposeBackdrop(int W, int H, float s);
