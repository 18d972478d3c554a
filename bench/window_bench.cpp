// The window's processor work: the background composition at full HD and 4K
// (scaled art included, as after a resize), the font atlas with the game
// glyphs, and one steady frame of the installer screen in a hidden window
// under SDL's offscreen video driver.
#include "imgui.h"
#include "launcher/installer.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/settings/menu_art_fonts.h"
#include "tests/support/font_fixture.h"
#include "tests/support/synthetic_dump.h"
#include "tests/support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

// The synthetic dump with the game fonts, loaded once for the whole program.
bool LoadArt() {
    static bool ready = [] {
        static testsupport::TempDir tmp("window-bench");
        const fs::path dump = tmp.path() / "dump";
        std::string error;
        if (!testsupport::WriteSyntheticDump(dump, error) ||
            !testsupport::WriteDefaultRcf(dump, testsupport::GameFontsIn::Both, error))
            return false;
        testsupport::MountGame(dump);
        ma::StartLoading();
        return ma::Ready(30000);
    }();
    return ready;
}

// As the frame loop does after a resize: compose, then drop the scaled art.
void BM_ComposeBackdrop(benchmark::State& state) {
    if (!LoadArt()) {
        state.SkipWithError("no art");
        return;
    }
    const int w = int(state.range(0)), h = int(state.range(1));
    const float s = std::min(w / 1280.0f, h / 720.0f);
    for (auto _ : state) {
        std::vector<uint32_t> picture = ComposeBackdrop(w, h, s);
        benchmark::DoNotOptimize(picture.data());
        ma::ClearCache();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_ComposeBackdrop)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The composition alone, with the scaled art already cached.
void BM_ComposeBackdropCachedArt(benchmark::State& state) {
    if (!LoadArt()) {
        state.SkipWithError("no art");
        return;
    }
    const int w = int(state.range(0)), h = int(state.range(1));
    const float s = std::min(w / 1280.0f, h / 720.0f);
    ComposeBackdrop(w, h, s);
    for (auto _ : state) {
        std::vector<uint32_t> picture = ComposeBackdrop(w, h, s);
        benchmark::DoNotOptimize(picture.data());
    }
    ma::ClearCache();
}
BENCHMARK(BM_ComposeBackdropCachedArt)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The share of the art scaling in a composition: one window-sized image
// (the fold or the light map) resampled by the art module.
void BM_ScaleOneWindowImage(benchmark::State& state) {
    if (!LoadArt()) {
        state.SkipWithError("no art");
        return;
    }
    const ma::Image* fold = ma::GetArt(ma::Art::BackdropFold);
    const int w = int(state.range(0)), h = int(state.range(1));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ma::Scaled(*fold, w, h, false, false).px.data());
        ma::ClearCache();
    }
    state.counters["source_w"] = fold->w;
    state.counters["source_h"] = fold->h;
}
BENCHMARK(BM_ScaleOneWindowImage)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void BM_BuildFontsWithGameGlyphs(benchmark::State& state) {
    if (!LoadArt()) {
        state.SkipWithError("no art");
        return;
    }
    ImGui::CreateContext();
    g_haveFonts = true;
    for (auto _ : state) {
        BuildFonts();
        benchmark::DoNotOptimize(ImGui::GetIO().Fonts->TexData);
    }
    ImGui::DestroyContext();
    g_ui = g_fill[0] = g_fill[1] = g_outline[0] = g_outline[1] = nullptr;
}
BENCHMARK(BM_BuildFontsWithGameGlyphs)->Unit(benchmark::kMillisecond);

// One frame of the installer screen in the screenshot-sized hidden window
// (event poll, ImGui frame, the page, rendering, present).
void BM_SteadyFrame(benchmark::State& state) {
    if (!LoadArt()) {
        state.SkipWithError("no art");
        return;
    }
    setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
    if (OpenWindow(true) != 0) {
        state.SkipWithError("no window");
        return;
    }
    SDL_SetRenderVSync(g_renderer, 0);  // the processor's share, not the display's pace
    LoadScreenArt();
    int frames = 0;
    for (int i = 0; i < 5; ++i) RunFrame({}, frames);  // backdrop and atlas upload
    for (auto _ : state) RunFrame({}, frames);
    g_quit = false;
    CloseWindow();
}
BENCHMARK(BM_SteadyFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
