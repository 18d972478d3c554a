#pragma once
// A sample sheet of the game fonts as the installer draws them: the sample
// lines in both fonts and in the screen's text styles, every button icon, the
// same lines in the overlay font, and the font pages themselves.
#include "runtime/settings/menu_art_fonts.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// Loads "Ombrax_Small" and "Ombrax_Large" from a persistent package as the
// art loader does (composition included) and makes them the fonts the text
// functions draw with. `log` receives the composition summary. False when
// either font does not load (the text functions then use the overlay font).
bool UsePackageFonts(const std::vector<uint8_t>& persistent, std::string& log);

// Draws the sheet onto `canvas` (which it resizes). With the game fonts
// loaded it shows both fonts, then the overlay font; without them only the
// overlay font.
void DrawFontSheet(settings::menu_art::Canvas& canvas);

// The canvas as an RGBA PNG file (straight alpha).
bool WriteCanvasPng(const settings::menu_art::Canvas& canvas, const std::filesystem::path& path);

} // namespace testsupport
