// The desktop display mode, asked of SDL.
#include "runtime/platform/platform.h"

#include <SDL3/SDL.h>

#include <cmath>

namespace plat {

bool DesktopDisplayMode(int& width, int& height, int& refreshHz) {
    if (!SDL_InitSubSystem(SDL_INIT_VIDEO)) return false;
    bool found = false;
    const SDL_DisplayMode* mode = SDL_GetDesktopDisplayMode(SDL_GetPrimaryDisplay());
    if (mode && mode->w > 0 && mode->h > 0) {
        const float density = mode->pixel_density > 0.0f ? mode->pixel_density : 1.0f;
        width = int(std::lround(double(mode->w) * density));
        height = int(std::lround(double(mode->h) * density));
        refreshHz = int(std::lround(double(mode->refresh_rate)));
        found = true;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return found;
}

} // namespace plat
