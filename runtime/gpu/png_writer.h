#pragma once
// Writes RGBA PNG files with uncompressed ("stored") deflate data, so no
// compression library is needed.
#include <cstdint>
#include <filesystem>

namespace gpu {

// Writes a straight-alpha RGBA image whose rows lie `pitch` bytes apart.
// True when the whole file was written; a partly written file stays on disk.
bool WritePng(const std::filesystem::path& path, const uint8_t* rgba, uint32_t width, uint32_t height,
              uint32_t pitch);

} // namespace gpu
