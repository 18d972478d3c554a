// RGBA PNG files: the rows are packed and encoded by the same stored-deflate
// encoder that writes the font pages.
#include "runtime/gpu/png_writer.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/settings/language_font.h"

namespace gpu {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, FileCloser> OpenCFile(const std::filesystem::path& path, const char* mode) {
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), mode));
}

} // namespace

bool WritePng(const std::filesystem::path& path, const uint8_t* rgba, uint32_t width, uint32_t height,
              uint32_t pitch) {
    if (width > INT_MAX || height > INT_MAX) return false;
    settings::language_font::Image image;
    image.w = int(width);
    image.h = int(height);
    const size_t rowBytes = size_t(width) * 4;
    image.rgba.resize(rowBytes * height);
    for (uint32_t y = 0; y < height && rowBytes > 0; ++y)
        std::memcpy(image.rgba.data() + size_t(y) * rowBytes, rgba + size_t(y) * pitch, rowBytes);
    const std::vector<uint8_t> png = settings::language_font::EncodePng(image, {}, {});

    auto file = OpenCFile(path, "wb");
    if (!file) return false;
    const size_t written = std::fwrite(png.data(), 1, png.size(), file.get());
    // A failed close (data that never reached the disk) also counts as a failure.
    return std::fclose(file.release()) == 0 && written == png.size();
}

} // namespace gpu
