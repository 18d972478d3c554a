// Native two-button question box through SDL's message box, which SDL can
// show before (and without) initialising its video subsystem.
#include "launcher/dialogs.h"

#include <SDL3/SDL.h>

#include "launcher/window.h"

namespace {

AskButtonsFunction g_askButtonsOverride = nullptr;

} // namespace

void SetAskButtonsForTesting(AskButtonsFunction function) { g_askButtonsOverride = function; }

int AskButtons(const char* title, const std::string& text, std::initializer_list<const char*> buttons,
               bool warning) {
    if (g_askButtonsOverride) return g_askButtonsOverride(title, text, buttons, warning);
    if (buttons.size() != 2) return -1;

    const char* const* labels = buttons.begin();
    SDL_MessageBoxButtonData data[2] = {};
    data[0].flags = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    data[0].buttonID = 0;
    data[0].text = labels[0] ? labels[0] : "";
    data[1].flags = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    data[1].buttonID = 1;
    data[1].text = labels[1] ? labels[1] : "";

    SDL_MessageBoxData box = {};
    box.flags = (warning ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION) |
                SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = g_window; // null before the window exists
    box.title = title ? title : "";
    box.message = text.c_str();
    box.numbuttons = 2;
    box.buttons = data;

    int pressed = -1;
    if (!SDL_ShowMessageBox(&box, &pressed)) return -1;
    return pressed == 0 || pressed == 1 ? pressed : -1;
}
