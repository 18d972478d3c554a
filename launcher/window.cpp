// The installer window: set-up, frame loop and shutdown.
#include "launcher/window.h"

#include <algorithm>
#include <string>

#include <dlfcn.h>
#include <link.h>

#include "imgui.h"
#include "imgui_impl_sdl3.h"
#include "imgui_impl_sdlrenderer3.h"
#include "launcher/dlss_probe.h"
#include "launcher/installer.h"
#include "launcher/screen.h"
#include "launcher/screenshot.h"
#include "launcher/ui_fonts.h"
#include "runtime/log.h"
#include "runtime/paths.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/menu_art_fonts.h"

namespace ma = settings::menu_art;

SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
bool g_artLoaded = false;
bool g_haveFonts = false;
bool g_quit = false;
int g_backdropW = 0;
int g_backdropH = 0;
FrameCounters g_frameCounters;

namespace {

const char* const WINDOW_TITLE = "Velkor of the Ombrax: Lumenfall - Setup";
constexpr float DISPLAY_SHARE = 0.9f;  // of the usable area, at most
constexpr Uint32 MINIMISED_PAUSE_MS = 30;
// Behind the backdrop: an orange.
constexpr float CLEAR_COLOR[4] = {0.85f, 0.55f, 0.12f, 1.0f};
// Frames rendered before the single screenshot is taken.
constexpr int SCREENSHOT_FRAME = 4;

bool g_minimisedForTests = false;

// SDL closes the graphics drivers (EGL, GL) it opened when it shuts down,
// moments before the process ends; what they keep for the life of the process
// would then look lost to a leak checker. Every library loaded at this point
// stays loaded instead.
void KeepLoadedLibraries() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) -> int {
            if (info->dlpi_name && *info->dlpi_name) dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

bool Minimised() {
    return g_minimisedForTests || (SDL_GetWindowFlags(g_window) & SDL_WINDOW_MINIMIZED) != 0;
}

// The backdrop follows the window's pixel size: composed again only when that
// size changed, and the scaled art it needed is dropped right after.
void UpdateBackdrop() {
    int w = 0, h = 0;
    if (!SDL_GetWindowSizeInPixels(g_window, &w, &h) || w <= 0 || h <= 0) return;
    if (w == g_backdropW && h == g_backdropH) return;
    ReleaseTexture(g_backdrop.view);
    const float s = std::min(static_cast<float>(w) / BASE_WIDTH, static_cast<float>(h) / BASE_HEIGHT);
    const std::vector<uint32_t> picture = ComposeBackdrop(w, h, s);
    ma::ClearCache();
    g_backdrop.view = MakeTexture(picture.data(), w, h);
    g_backdrop.w = w;
    g_backdrop.h = h;
    g_backdropW = w;
    g_backdropH = h;
    ++g_frameCounters.backdrops;
}

// The single screenshot: the fourth rendered frame, or the first one after a
// running prerequisite check or a pending unattended start.
void SingleScreenshot(const std::filesystem::path& screenshot, int& frames) {
    if (screenshot.empty()) return;
    const bool unattendedPending =
        g_inst.autoStart && (g_inst.phase == Phase::Setup || g_inst.phase == Phase::Running);
    const bool waitForShot = frames == SCREENSHOT_FRAME - 1 && (g_inst.checking || unattendedPending);
    if (waitForShot) return;
    ++frames;
    if (frames == SCREENSHOT_FRAME) {
        const bool ok = SaveScreenshot(screenshot);
        Log("[launcher] screenshot %s: %s", screenshot.string().c_str(), ok ? "ok" : "failed");
        g_quit = true;
    }
}

// The pending shot of a screenshot series, after the single screenshot.
void SeriesScreenshot() {
    if (g_inst.pendingShot.empty()) return;
    const bool ok = SaveScreenshot(g_inst.pendingShot);
    Log("[setup] screenshot %s: %s", g_inst.pendingShot.u8string().c_str(), ok ? "ok" : "failed");
    g_inst.pendingShot.clear();
}

} // namespace

float WindowScale(bool screenshot, int usableW, int usableH, float contentScale) {
    if (screenshot) return 1.0f;
    const float dpi = contentScale > 0.0f ? contentScale : 1.0f;
    return std::min({dpi, static_cast<float>(usableW) * DISPLAY_SHARE / BASE_WIDTH,
                     static_cast<float>(usableH) * DISPLAY_SHARE / BASE_HEIGHT});
}

int OpenWindow(bool screenshot) {
    if (!SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMEPAD)) {
        const std::string error = SDL_GetError();
        Log("[launcher] SDL_Init failed: %s", error.c_str());
        plat::ShowMessageBox("VelkorLauncher", error.c_str(), plat::MessageKind::Error, nullptr);
        return 1;
    }

    const SDL_DisplayID display = SDL_GetPrimaryDisplay();
    SDL_Rect usable = {0, 0, BASE_WIDTH, BASE_HEIGHT};
    SDL_Rect bounds;
    if (SDL_GetDisplayUsableBounds(display, &bounds)) usable = bounds;
    const float dpi = SDL_GetDisplayContentScale(display);
    const float scale = WindowScale(screenshot, usable.w, usable.h, dpi);
    const int width = static_cast<int>(BASE_WIDTH * scale);
    const int height = static_cast<int>(BASE_HEIGHT * scale);

    SDL_WindowFlags flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIGH_PIXEL_DENSITY;
    if (screenshot) flags |= SDL_WINDOW_HIDDEN;
    g_window = SDL_CreateWindow(WINDOW_TITLE, width, height, flags);
    if (g_window) g_renderer = SDL_CreateRenderer(g_window, nullptr);
    if (!g_window || !g_renderer) {
        Log("[launcher] no window: %s", SDL_GetError());
        plat::ShowMessageBox("VelkorLauncher", "Não foi possível abrir a janela (SDL).", plat::MessageKind::Error,
                             nullptr);
        return 1;
    }
    SDL_SetWindowMinimumSize(g_window, MIN_WIDTH, MIN_HEIGHT);
    SDL_SetRenderVSync(g_renderer, 1);
    const char* renderer = SDL_GetRendererName(g_renderer);
    Log("[launcher] window %dx%d (scale %.2f), renderer %s", width, height, static_cast<double>(scale),
        renderer ? renderer : "?");

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableGamepad;
    ImGuiStyle& style = ImGui::GetStyle();
    style.DisabledAlpha = 1.0f;
    style.WindowPadding = ImVec2(0, 0);
    style.ItemSpacing = ImVec2(0, 0);
    style.Colors[ImGuiCol_NavCursor] = ImVec4(0, 0, 0, 0);
    ImGui_ImplSDL3_InitForSDLRenderer(g_window, g_renderer);
    ImGui_ImplSDLRenderer3_Init(g_renderer);
    g_frameCounters = FrameCounters();
    return 0;
}

void LoadScreenArt() {
    g_artLoaded = !paths::Game().empty() && ma::Ready(ART_WAIT_MS);
    g_haveFonts = g_artLoaded;
    BuildFonts();
    if (g_artLoaded) {
        g_logo = ArtTexture(ma::Art::TitleLogo);
        g_star = ArtTexture(ma::Art::StarFull);
        g_frame = ArtTexture(ma::Art::MessageFrame);
        g_dividerL = ArtTexture(ma::Art::DividerLeft);
        g_dividerR = ArtTexture(ma::Art::DividerRight);
    } else {
        Log("[launcher] no game art (game folder %s)", paths::Game().empty() ? "not found" : "without the fonts");
    }
}

FrameTurn RunFrame(const std::filesystem::path& screenshot, int& frames) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        ImGui_ImplSDL3_ProcessEvent(&event);
        // Closing the window sends a close request and then a quit event: the
        // installer is asked to leave once.
        if ((event.type == SDL_EVENT_QUIT || event.type == SDL_EVENT_WINDOW_CLOSE_REQUESTED) && !g_quit)
            InstallerExit(g_quit);
    }
    if (g_quit) return FrameTurn::Quit;

    if (Minimised()) {
        SDL_Delay(MINIMISED_PAUSE_MS);
        ++g_frameCounters.idle;
        return FrameTurn::Idle;
    }

    ImGui_ImplSDLRenderer3_NewFrame();
    ImGui_ImplSDL3_NewFrame();
    UpdateBackdrop();
    ImGui::NewFrame();
    DrawInstallerContents();
    ImGui::Render();

    const ImGuiIO& io = ImGui::GetIO();
    SDL_SetRenderScale(g_renderer, io.DisplayFramebufferScale.x, io.DisplayFramebufferScale.y);
    SDL_SetRenderDrawColorFloat(g_renderer, CLEAR_COLOR[0], CLEAR_COLOR[1], CLEAR_COLOR[2], CLEAR_COLOR[3]);
    SDL_RenderClear(g_renderer);
    ImGui_ImplSDLRenderer3_RenderDrawData(ImGui::GetDrawData(), g_renderer);

    SingleScreenshot(screenshot, frames);
    SeriesScreenshot();

    SDL_RenderPresent(g_renderer);
    ++g_frameCounters.drawn;
    return FrameTurn::Drawn;
}

void CloseWindow() {
    ShutdownInstaller();
    ShutdownDlssProbe();
    if (ImGui::GetCurrentContext()) {
        ImGui_ImplSDLRenderer3_Shutdown();
        ImGui_ImplSDL3_Shutdown();
        ImGui::DestroyContext();
    }
    KeepLoadedLibraries();
    // Destroying the renderer frees every texture made with it.
    if (g_renderer) SDL_DestroyRenderer(g_renderer);
    if (g_window) SDL_DestroyWindow(g_window);
    SDL_Quit();
    g_renderer = nullptr;
    g_window = nullptr;
    g_logo = g_star = g_frame = g_dividerL = g_dividerR = g_backdrop = Texture();
    g_ui = g_fill[0] = g_fill[1] = g_outline[0] = g_outline[1] = nullptr;
    g_backdropW = g_backdropH = 0;
}

void SetMinimisedForTests(bool minimised) { g_minimisedForTests = minimised; }

int RunWindow(const std::filesystem::path& screenshot) {
    if (const int code = OpenWindow(!screenshot.empty())) return code;
    LoadScreenArt();
    InitInstaller();
    int frames = 0;
    while (!g_quit) {
        if (RunFrame(screenshot, frames) == FrameTurn::Quit) break;
    }
    CloseWindow();
    return g_inst.finalCode;
}
