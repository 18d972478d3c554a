// The installer screen as far as it is built yet: the per-frame installer
// update, the backdrop and the game's title. The option rows, the progress
// view, the menu and the message dialog are still to come.
#include "launcher/screen.h"

#include "imgui.h"
#include "launcher/installer.h"
#include "launcher/screen_draw.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"

void DrawInstallerContents() {
    UpdateInstaller();
    if (UpdateUnattended(false, false).quit) g_quit = true;

    const ImVec2 display = ImGui::GetIO().DisplaySize;
    g_view = ViewFor(display.x, display.y);
    g_draw = ImGui::GetBackgroundDrawList();
    if (g_backdrop.view) g_draw->AddImage(g_backdrop.Id(), ImVec2(0, 0), display);

    float y = 184.0f;
    if (g_logo.view && g_logo.w > 0) {
        const float logoH = static_cast<float>(g_logo.h) * 404.0f / static_cast<float>(g_logo.w);
        g_draw->AddImage(g_logo.Id(), g_view.P(34.0f, 34.0f), g_view.P(438.0f, 34.0f + logoH));
        y = 34.0f + logoH - 6.0f;
    } else {
        Draw(1, "VELKOR OF THE OMBRAX", 236.0f, 124.0f, 46.0f, TITLE, 0.5f, 420.0f);
    }
    Draw(1, "LUMENFALL", 236.0f, y, 38.0f, GOLD, 0.5f, 420.0f);
}
