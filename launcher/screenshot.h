#pragma once
// Photographs of the installer window, read back from the rendered frame
// before it is presented.
#include <filesystem>

// Writes the whole render target of g_renderer as an opaque RGBA PNG (every
// alpha 255) of the target's pixel size. True when the file was written.
bool SaveScreenshot(const std::filesystem::path& file);
