// Steady frame cost of the installer screen, per phase, in a window of the
// offscreen video driver with the game art of a synthetic dump (our own menu
// images and the fixture fonts): the whole frame-loop turn, and the screen
// alone (ImGui frame, DrawInstallerContents, Render) without the renderer.
// Counters: draw calls (ImGui draw commands) and vertices per frame.
#include "imgui.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/screen.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/settings/menu_art_fonts.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/synthetic_dump.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

// A synthetic dump whose default.rcf carries the fixture fonts, the folders
// resolved to it, the art loaded, and the window open; once per run.
struct Screen {
    fs::path folder;
    bool ok = false;
    std::string error;

    Screen() {
        setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
        std::string pattern = (fs::temp_directory_path() / "screen-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            error = "no temporary folder";
            return;
        }
        folder = pattern;
        setenv("HOME", (folder / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder / "home/.config").c_str(), 1);
        setenv("XDG_DATA_HOME", (folder / "home/.local/share").c_str(), 1);
        const fs::path game = folder / "game";
        if (!testsupport::WriteSyntheticDump(game, error)) return;
        testsupport::WriteDefaultRcf(game, testsupport::GameFontsIn::Both, error);
        testsupport::MountGame(game);
        ma::StartLoading();
        g_values.language = "english";
        if (OpenWindow(false) != 0) {
            error = "no window";
            return;
        }
        LoadScreenArt();
        ok = true;
    }
    ~Screen() {
        if (ok) CloseWindow();
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
};

Screen& TheScreen() {
    static Screen screen;
    return screen;
}

// The installer state shown by each benchmark.
enum class Page { Setup, Progress, Done, Dialog };

void Show(Page page) {
    g_inst.bundle = true;
    g_inst.installDir = TheScreen().folder / "install";
    g_inst.gpuKnown = true;
    g_inst.checked = true;
    g_inst.checking = false;
    g_inst.selected = 0;
    g_modal = Modal::None;
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.log.clear();
    switch (page) {
    case Page::Setup:
        g_inst.phase = Phase::Setup;
        break;
    case Page::Progress:
        g_inst.phase = Phase::Running;
        g_inst.step = 5;
        g_inst.progress = 0.42f;
        g_inst.stepDetail = "recompiling the game code";
        for (int i = 0; i < 40; ++i) g_inst.log.push_back("step 5: translating function " + std::to_string(i));
        break;
    case Page::Done:
        g_inst.phase = Phase::Done;
        g_inst.selected = 2;
        break;
    case Page::Dialog:
        g_inst.phase = Phase::Setup;
        g_message[0] = "Not enough free space on this drive:";
        g_message[1] = "needs 18.9 GB, free 2.1 GB";
        g_modal = Modal::Message;
        break;
    }
}

// Draw commands and vertices of the last rendered frame.
void Count(benchmark::State& state) {
    const ImDrawData* data = ImGui::GetDrawData();
    int commands = 0;
    if (data) {
        for (const ImDrawList* list : data->CmdLists) commands += list->CmdBuffer.Size;
    }
    state.counters["draw_calls"] = commands;
    state.counters["vertices"] = data ? data->TotalVtxCount : 0;
    state.counters["game_fonts"] = g_haveFonts ? 1 : 0;
}

// One whole turn of the frame loop (events, ImGui, screen, render, present).
void BM_FrameLoopTurn(benchmark::State& state) {
    if (!TheScreen().ok) return state.SkipWithError(TheScreen().error.c_str());
    const Page page = static_cast<Page>(state.range(0));
    Show(page);
    int frames = 0;
    for (int i = 0; i < 3; ++i) RunFrame({}, frames); // backdrop composed, state settled
    for (auto _ : state) {
        // The dialog would be dismissed by nothing here; keep it open.
        if (page == Page::Dialog) g_modal = Modal::Message;
        RunFrame({}, frames);
    }
    Count(state);
    g_modal = Modal::None;
    g_inst.phase = Phase::Setup;
}
BENCHMARK(BM_FrameLoopTurn)
    ->ArgName("page")
    ->Arg(static_cast<int>(Page::Setup))
    ->Arg(static_cast<int>(Page::Progress))
    ->Arg(static_cast<int>(Page::Done))
    ->Arg(static_cast<int>(Page::Dialog))
    ->Unit(benchmark::kMicrosecond);

// The screen's own work: the ImGui frame with DrawInstallerContents and the
// building of the draw data, without rendering.
void BM_ScreenOnly(benchmark::State& state) {
    if (!TheScreen().ok) return state.SkipWithError(TheScreen().error.c_str());
    const Page page = static_cast<Page>(state.range(0));
    Show(page);
    int frames = 0;
    for (int i = 0; i < 3; ++i) RunFrame({}, frames);
    ImGuiIO& io = ImGui::GetIO();
    for (auto _ : state) {
        if (page == Page::Dialog) g_modal = Modal::Message;
        io.DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        DrawInstallerContents();
        ImGui::Render();
    }
    Count(state);
    g_modal = Modal::None;
    g_inst.phase = Phase::Setup;
}
BENCHMARK(BM_ScreenOnly)
    ->ArgName("page")
    ->Arg(static_cast<int>(Page::Setup))
    ->Arg(static_cast<int>(Page::Progress))
    ->Arg(static_cast<int>(Page::Done))
    ->Arg(static_cast<int>(Page::Dialog))
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
