#pragma once
// The installer window: SDL window and renderer, Dear ImGui on top of them,
// the fonts and art textures, the frame loop and the shutdown. Everything here
// belongs to the main thread.
#include <SDL3/SDL.h>

#include <filesystem>

extern SDL_Window* g_window;      // the only window
extern SDL_Renderer* g_renderer;  // its renderer
extern bool g_artLoaded;          // the game art finished loading in time
extern bool g_haveFonts;          // the game's bitmap fonts are used on the screen (== g_artLoaded)
extern bool g_quit;               // ends the frame loop
extern int g_backdropW;           // pixel size g_backdrop was composed for; 0 before the first
extern int g_backdropH;

// Base window size in screen units (the virtual screen of the installer page).
inline constexpr int BASE_WIDTH = 1280;
inline constexpr int BASE_HEIGHT = 720;
inline constexpr int MIN_WIDTH = 800;
inline constexpr int MIN_HEIGHT = 480;
// Longest wait for the game-art loader before the window content is built.
inline constexpr int ART_WAIT_MS = 8000;

// Steps 9 to 11 of start-up and everything after: window, renderer, ImGui,
// fonts and art, InitInstaller, the frame loop and the shutdown. A non-empty
// `screenshot` is the single-screenshot mode. Returns the exit code: 1 when SDL
// or the window cannot start, else the installer's final code.
int RunWindow(const std::filesystem::path& screenshot);

// ---- pieces of RunWindow, in the order it calls them ------------------------

// The window scale: 1 for a screenshot, else the smallest of the display's
// content scale (1 when not above 0) and 0.9 of the usable area over the base
// size.
float WindowScale(bool screenshot, int usableW, int usableH, float contentScale);
// SDL, window, renderer and ImGui. 0 on success, else the exit code (1) after
// the log line and the message box.
int OpenWindow(bool screenshot);
// Awaits the art (at most ART_WAIT_MS), builds the fonts and the art textures.
void LoadScreenArt();
// One turn of the frame loop. `frames` counts rendered frames for the single
// screenshot.
enum class FrameTurn { Quit, Idle, Drawn };
FrameTurn RunFrame(const std::filesystem::path& screenshot, int& frames);
// Installer shutdown, the DLSS check, ImGui and SDL in that order.
void CloseWindow();

// What the frame loop has done since the window opened.
struct FrameCounters {
    int drawn = 0;      // frames built and presented
    int idle = 0;       // turns spent minimised
    int backdrops = 0;  // background compositions
};
extern FrameCounters g_frameCounters;
// Tests: treat the window as minimised whatever SDL says (the offscreen video
// driver cannot minimise).
void SetMinimisedForTests(bool minimised);
