// Screenshots of the render target.
#include "launcher/screenshot.h"

#include <SDL3/SDL.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "launcher/window.h"
#include "runtime/gpu/png_writer.h"

bool SaveScreenshot(const std::filesystem::path& file) {
    if (!g_renderer) return false;
    SDL_Surface* read = SDL_RenderReadPixels(g_renderer, nullptr);
    if (!read) return false;
    // Bytes R, G, B, A in memory.
    SDL_Surface* rgba = SDL_ConvertSurface(read, SDL_PIXELFORMAT_RGBA32);
    SDL_DestroySurface(read);
    if (!rgba) return false;

    bool ok = false;
    const int w = rgba->w, h = rgba->h;
    if (w > 0 && h > 0 && rgba->pixels) {
        const size_t row = static_cast<size_t>(w) * 4;
        std::vector<uint8_t> px(row * static_cast<size_t>(h));
        const uint8_t* src = static_cast<const uint8_t*>(rgba->pixels);
        for (int y = 0; y < h; ++y) std::memcpy(px.data() + row * y, src + static_cast<size_t>(rgba->pitch) * y, row);
        for (size_t i = 3; i < px.size(); i += 4) px[i] = 255;
        ok = gpu::WritePng(file, px.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                           static_cast<uint32_t>(row));
    }
    SDL_DestroySurface(rgba);
    return ok;
}
