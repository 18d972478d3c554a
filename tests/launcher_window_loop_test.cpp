// The window and its frame loop in process, under SDL's offscreen video
// driver and without a game folder (system font only): window sizing for a
// table of displays, a backdrop composed once per distinct pixel size, no
// frames while minimised, the quit events, and the single screenshot.
#include "imgui.h"
#include "launcher/installer.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/platform/image_posix.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(WindowSize, FollowsTheDisplaysUsableAreaAndContentScale) {
    struct Case {
        int usableW, usableH;
        float contentScale;
        bool screenshot;
        int width, height;
    };
    const Case CASES[] = {
        {1366, 728, 1.0f, false, 1164, 655},   // 0.9 of the height limits
        {3840, 2160, 2.0f, false, 2560, 1440}, // the content scale limits
        {1920, 1080, 0.0f, false, 1280, 720},  // no content scale reported: 1
        {1920, 1080, -1.0f, false, 1280, 720},
        {1920, 1080, 1.25f, false, 1600, 900},
        {2560, 1440, 1.5f, false, 1920, 1080},
        {1024, 600, 1.0f, false, 921, 518},    // smaller than the base size
        {1280, 720, 1.0f, false, 1152, 648},   // the fallback area when the bounds are unknown
        {3840, 2160, 2.0f, true, 1280, 720},   // a screenshot is always at scale 1
        {800, 600, 3.0f, true, 1280, 720},
    };
    for (const Case& c : CASES) {
        const float scale = WindowScale(c.screenshot, c.usableW, c.usableH, c.contentScale);
        EXPECT_EQ(int(BASE_WIDTH * scale), c.width) << c.usableW << "x" << c.usableH << " @" << c.contentScale;
        EXPECT_EQ(int(BASE_HEIGHT * scale), c.height) << c.usableW << "x" << c.usableH << " @" << c.contentScale;
    }
    EXPECT_NEAR(WindowScale(false, 1366, 728, 1.0f), 0.91f, 1e-5f);
}

class Loop : public ::testing::Test {
protected:
    testsupport::TempDir tmp{"window-loop"};

    void SetUp() override {
        setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
        setenv("HOME", (tmp.path() / "home").c_str(), 1);
        setenv("XDG_DATA_HOME", (tmp.path() / "home/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tmp.path() / "home/.config").c_str(), 1);
        g_quit = false;
        ASSERT_EQ(OpenWindow(false), 0) << SDL_GetError();
        LoadScreenArt();
    }
    void TearDown() override {
        SetMinimisedForTests(false);
        g_inst.checking = false;
        g_inst.pendingShot.clear();
        CloseWindow();
    }
    // Lets the offscreen driver deliver the size change and runs one turn.
    FrameTurn Turn(const fs::path& screenshot = {}) { return RunFrame(screenshot, m_frames); }
    int m_frames = 0;
};

TEST_F(Loop, TheBackdropIsComposedOncePerDistinctPixelSize) {
    EXPECT_FALSE(g_artLoaded);
    EXPECT_EQ(g_backdropW, 0);
    EXPECT_EQ(Turn(), FrameTurn::Drawn);
    EXPECT_EQ(g_frameCounters.backdrops, 1);
    EXPECT_EQ(g_backdropW, g_backdrop.w);
    EXPECT_GT(g_backdropW, 0);
    ASSERT_NE(g_backdrop.view, nullptr);
    for (int i = 0; i < 3; ++i) Turn();
    EXPECT_EQ(g_frameCounters.backdrops, 1) << "not per frame";

    const struct {
        int w, h, backdrops;
    } STEPS[] = {{900, 600, 2}, {900, 600, 2}, {1000, 600, 3}, {900, 600, 4}, {900, 600, 4}};
    for (const auto& step : STEPS) {
        SDL_SetWindowSize(g_window, step.w, step.h);
        SDL_SyncWindow(g_window);
        Turn();
        Turn();
        EXPECT_EQ(g_frameCounters.backdrops, step.backdrops) << step.w << "x" << step.h;
        EXPECT_EQ(g_backdropW, step.w);
        EXPECT_EQ(g_backdropH, step.h);
        float w = 0, h = 0;
        SDL_GetTextureSize(g_backdrop.view, &w, &h);
        EXPECT_EQ(int(w), step.w);
        EXPECT_EQ(int(h), step.h);
    }
    EXPECT_EQ(g_frameCounters.drawn, 4 + 2 * 5);
}

TEST_F(Loop, AMinimisedWindowDrawsNothingUntilRestored) {
    Turn();
    const FrameCounters before = g_frameCounters;
    SetMinimisedForTests(true);
    SDL_SetWindowSize(g_window, 1000, 700);
    SDL_SyncWindow(g_window);
    const Uint64 start = SDL_GetTicks();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Turn(), FrameTurn::Idle);
    EXPECT_GE(SDL_GetTicks() - start, Uint64(5 * 30)) << "it rests 30 ms per turn";
    EXPECT_EQ(g_frameCounters.drawn, before.drawn);
    EXPECT_EQ(g_frameCounters.backdrops, before.backdrops);
    EXPECT_EQ(g_frameCounters.idle, 5);
    // A pending series shot waits for the window too.
    g_inst.pendingShot = tmp.path() / "shots" / "01_setup.png";
    Turn();
    EXPECT_FALSE(fs::exists(g_inst.pendingShot));
    SetMinimisedForTests(false);
    EXPECT_EQ(Turn(), FrameTurn::Drawn);
    EXPECT_EQ(g_frameCounters.backdrops, before.backdrops + 1);
    EXPECT_EQ(g_backdropW, 1000);
    EXPECT_TRUE(g_inst.pendingShot.empty()) << "the series shot was written";
}

TEST_F(Loop, PendingSeriesShotIsWrittenAfterTheFrameAndCleared) {
    const fs::path shot = tmp.path() / "02_setup.png";
    g_inst.pendingShot = shot;
    EXPECT_EQ(Turn(), FrameTurn::Drawn);
    EXPECT_TRUE(g_inst.pendingShot.empty());
    std::ifstream in(shot, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(plat::DecodePng(bytes.data(), bytes.size(), w, h, rgba));
    int pw = 0, ph = 0;
    SDL_GetWindowSizeInPixels(g_window, &pw, &ph);
    EXPECT_EQ(w, pw);
    EXPECT_EQ(h, ph);
}

TEST_F(Loop, QuitAndCloseRequestsEndTheLoopAtTheEndOfTheBatch) {
    for (Uint32 type : {Uint32(SDL_EVENT_WINDOW_CLOSE_REQUESTED), Uint32(SDL_EVENT_QUIT)}) {
        g_quit = false;
        Turn();
        const int drawn = g_frameCounters.drawn;
        SDL_Event e{};
        e.type = type;
        e.window.windowID = SDL_GetWindowID(g_window);
        ASSERT_TRUE(SDL_PushEvent(&e));
        SDL_Event later{};
        later.type = SDL_EVENT_USER;
        ASSERT_TRUE(SDL_PushEvent(&later));
        EXPECT_EQ(Turn(), FrameTurn::Quit);
        EXPECT_TRUE(g_quit);
        EXPECT_EQ(g_frameCounters.drawn, drawn) << "no frame after the quit";
        EXPECT_FALSE(SDL_HasEvent(SDL_EVENT_USER)) << "the queue was drained";
    }
    g_quit = false;
}

TEST_F(Loop, TheSingleScreenshotIsTheFourthFrameOrTheFirstAfterTheCheck) {
    const fs::path file = tmp.path() / "shot.png";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Turn(file), FrameTurn::Drawn);
    EXPECT_FALSE(fs::exists(file));
    // A prerequisite check is running when the fourth frame comes: wait.
    g_inst.checking = true;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Turn(file), FrameTurn::Drawn);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(g_quit);
    g_inst.checking = false;
    EXPECT_EQ(Turn(file), FrameTurn::Drawn);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(g_quit);
    EXPECT_EQ(g_frameCounters.drawn, 9);
    EXPECT_EQ(Turn(file), FrameTurn::Quit);
    g_quit = false;

    // An unattended start still pending holds the shot as well.
    const fs::path second = tmp.path() / "second.png";
    m_frames = 3;
    g_inst.autoStart = true;
    g_inst.phase = Phase::Setup;
    Turn(second);
    EXPECT_FALSE(fs::exists(second));
    g_inst.autoStart = false;
    Turn(second);
    EXPECT_TRUE(fs::exists(second));
    g_quit = false;
}

TEST_F(Loop, AFailedScreenshotStillEndsTheProgram) {
    const fs::path file = tmp.path() / "missing" / "folder" / "shot.png";
    std::ofstream(tmp.path() / "missing") << "a file, not a folder";
    for (int i = 0; i < 4; ++i) Turn(file);
    EXPECT_TRUE(g_quit);
    EXPECT_FALSE(fs::exists(file));
    g_quit = false;
}

} // namespace
