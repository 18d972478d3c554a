#pragma once
// Our own menu art, drawn by code: the eleven images the installer takes from
// the game's packages, in the game-menu style (dark fantasy golds, deep blues
// and greens). Every image is deterministic.
#include "runtime/settings/language_font.h"
#include "runtime/settings/menu_art.h"

namespace testsupport {

using RgbaImage = settings::language_font::Image;  // straight RGBA bytes

// The image for one Art slot, at the size the synthetic packages store it.
RgbaImage PaintArt(settings::menu_art::Art art);

// A simple second star (closed, four points) used as a decoy in the packages.
RgbaImage PaintDecoyStar();

} // namespace testsupport
