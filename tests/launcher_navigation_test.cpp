// Navigation of the installer screen driven through whole frames of the real
// window under SDL's offscreen driver: keys and mouse events are fed to ImGui
// as its SDL back-end would, gamepad buttons come from an SDL virtual gamepad.
// Covers wrap-around, mouse mode and the information rows, activation keys,
// F5 / Start only while installing is possible, Escape, the left menu and the
// message dialog keeping input away from the rows.
#include "imgui.h"
#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/screen.h"
#include "launcher/screen_draw.h"
#include "launcher/screen_rows.h"
#include "launcher/window.h"
#include "tests/support/temp_dir.h"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Rows without a payload: 0 GAME FOLDER, 1 GAME (information, plain help),
// 2 PREREQUISITES, 3 header, 4 SUBTITLES, 5 HD AI REMASTER, 6 ASSETS,
// 7 COPY, 8 BUILD TOOLS.
constexpr int GAME_FOLDER = 0;
constexpr int GAME_INFO = 1;
constexpr int HEADER = 3;
constexpr int SUBTITLES = 4;
constexpr int REMASTER = 5;
constexpr int COPY = 7;
constexpr int TOOLS = 8;

class Navigation : public ::testing::Test {
protected:
    testsupport::TempDir tmp{"navigation"};

    void SetUp() override {
        setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
        setenv("HOME", (tmp.path() / "home").c_str(), 1);
        setenv("XDG_DATA_HOME", (tmp.path() / "home/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tmp.path() / "home/.config").c_str(), 1);
        unsetenv("XDG_DESKTOP_DIR");
        fs::create_directories(tmp.path() / "home/.local/share");
        fs::create_directories(tmp.path() / "home/Desktop");
        g_values.language = "english";
        g_quit = false;
        g_modal = Modal::None;
        ResetInstaller();
        ASSERT_EQ(OpenWindow(false), 0) << SDL_GetError();
        LoadScreenArt();
        Frame();
        Frame();
    }

    void TearDown() override {
        if (m_pad) SDL_CloseJoystick(m_pad);
        if (m_padId) SDL_DetachVirtualJoystick(m_padId);
        m_pad = nullptr;
        m_padId = 0;
        CloseWindow();
        g_modal = Modal::None;
        g_quit = false;
    }

    // The installer state of a fresh setup screen without a payload whose
    // prerequisite check found nothing missing.
    static void ResetInstaller() {
        g_inst.phase = Phase::Setup;
        g_inst.bundle = false;
        g_inst.selected = 0;
        g_inst.mouseMode = false;
        g_inst.checking = false;
        g_inst.checked = true;
        g_inst.subtitles = true;
        g_inst.remaster = false;
        g_inst.extractAssets = false;
        g_inst.copyGame = false;
        g_inst.gameBytes = 1; // no folder walk when COPY is switched on
        g_inst.autoStart = false;
        g_inst.autoFinish = false;
        g_inst.gpuKnown = true;
        g_inst.dlss = false;
        g_inst.shortcutsDone = false;
        g_inst.desktopShortcut = true;
        g_inst.startMenu = true;
        g_inst.shots.clear();
        g_inst.finalCode = 0;
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs.clear();
        g_inst.packages.clear();
        g_inst.toolchain = "bundled";
        g_inst.dump = DumpProblem();
    }

    void Frame() { ASSERT_NE(RunFrame({}, m_frames), FrameTurn::Idle); }

    // A key pressed in one frame and released in the next.
    void Press(ImGuiKey key) {
        ImGui::GetIO().AddKeyEvent(key, true);
        Frame();
        ImGui::GetIO().AddKeyEvent(key, false);
        Frame();
    }

    // A virtual gamepad attached to SDL; its buttons reach ImGui through the
    // SDL back-end like a real pad's.
    bool AttachPad() {
        SDL_VirtualJoystickDesc desc;
        SDL_INIT_INTERFACE(&desc);
        desc.type = SDL_JOYSTICK_TYPE_GAMEPAD;
        desc.naxes = SDL_GAMEPAD_AXIS_COUNT;
        desc.nbuttons = SDL_GAMEPAD_BUTTON_COUNT;
        desc.button_mask = (1u << SDL_GAMEPAD_BUTTON_COUNT) - 1u;
        desc.axis_mask = (1u << SDL_GAMEPAD_AXIS_COUNT) - 1u;
        desc.name = "Velkor test pad";
        m_padId = SDL_AttachVirtualJoystick(&desc);
        if (!m_padId) return false;
        m_pad = SDL_OpenJoystick(m_padId);
        if (!m_pad) return false;
        for (int i = 0; i < 3; ++i) Frame(); // the back-end opens the new gamepad
        return true;
    }

    void PressPad(SDL_GamepadButton button) {
        SDL_SetJoystickVirtualButton(m_pad, button, true);
        Frame();
        SDL_SetJoystickVirtualButton(m_pad, button, false);
        Frame();
    }

    // Window coordinates of the middle of row i.
    static ImVec2 RowPoint(int i) { return g_view.P(700.0f, 119.0f + 44.0f * static_cast<float>(i) + 15.0f); }

    // Moves the pointer there in two steps (ImGui reports no movement for the
    // very first position it learns).
    void MoveTo(ImVec2 point) {
        ImGui::GetIO().AddMousePosEvent(point.x - 3.0f, point.y);
        Frame();
        ImGui::GetIO().AddMousePosEvent(point.x, point.y);
        Frame();
    }

    void Click(ImVec2 point) {
        MoveTo(point);
        ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, true);
        Frame();
        ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, false);
        Frame();
    }

    int m_frames = 0;
    SDL_JoystickID m_padId = 0;
    SDL_Joystick* m_pad = nullptr;
};

TEST_F(Navigation, UpAndDownWrapAroundTheSelectableRows) {
    // Down from the last selectable row goes to the first, Up from the first
    // to the last; the information row and the header are passed over.
    const struct {
        int from;
        ImGuiKey key;
        int to;
    } CASES[] = {
        {TOOLS, ImGuiKey_DownArrow, GAME_FOLDER}, {GAME_FOLDER, ImGuiKey_UpArrow, TOOLS},
        {GAME_FOLDER, ImGuiKey_DownArrow, 2},     {2, ImGuiKey_DownArrow, SUBTITLES},
        {SUBTITLES, ImGuiKey_UpArrow, 2},         {2, ImGuiKey_UpArrow, GAME_FOLDER},
        {HEADER, ImGuiKey_DownArrow, 2},          // a header snaps to the first, then moves
    };
    for (const auto& c : CASES) {
        g_inst.selected = c.from;
        Press(c.key);
        EXPECT_EQ(g_inst.selected, c.to) << c.from << " key " << ImGui::GetKeyName(c.key);
        EXPECT_FALSE(g_inst.mouseMode);
    }
    // Without a key a selection on the header snaps to the first selectable row.
    g_inst.selected = HEADER;
    Frame();
    EXPECT_EQ(g_inst.selected, GAME_FOLDER);
}

TEST_F(Navigation, EnterSpaceLeftAndRightActivateTheSelectedRow) {
    g_inst.selected = SUBTITLES;
    bool expected = g_inst.subtitles;
    for (ImGuiKey key : {ImGuiKey_Enter, ImGuiKey_KeypadEnter, ImGuiKey_Space, ImGuiKey_LeftArrow,
                         ImGuiKey_RightArrow}) {
        Press(key);
        expected = !expected;
        EXPECT_EQ(g_inst.subtitles, expected) << ImGui::GetKeyName(key);
    }
    g_inst.selected = COPY;
    Press(ImGuiKey_Enter);
    EXPECT_TRUE(g_inst.copyGame);
    // The build-tools row switches the toolchain only while no check runs.
    g_inst.checking = true;
    g_inst.selected = TOOLS;
    Press(ImGuiKey_Enter);
    EXPECT_EQ(g_inst.toolchain, "bundled");
    EXPECT_FALSE(g_inst.toolchainChosen);
    g_inst.checking = false;
}

TEST_F(Navigation, TheGamepadMovesAndActivatesLikeTheKeys) {
    if (!AttachPad()) GTEST_SKIP() << "no virtual gamepad: " << SDL_GetError();
    g_inst.selected = TOOLS;
    PressPad(SDL_GAMEPAD_BUTTON_DPAD_DOWN);
    EXPECT_EQ(g_inst.selected, GAME_FOLDER);
    PressPad(SDL_GAMEPAD_BUTTON_DPAD_UP);
    EXPECT_EQ(g_inst.selected, TOOLS);
    g_inst.selected = REMASTER;
    PressPad(SDL_GAMEPAD_BUTTON_SOUTH);
    EXPECT_TRUE(g_inst.remaster);
    PressPad(SDL_GAMEPAD_BUTTON_DPAD_RIGHT);
    EXPECT_FALSE(g_inst.remaster);
    // The left stick pushed down moves like the D-pad.
    SDL_SetJoystickVirtualAxis(m_pad, SDL_GAMEPAD_AXIS_LEFTY, 32767);
    Frame();
    SDL_SetJoystickVirtualAxis(m_pad, SDL_GAMEPAD_AXIS_LEFTY, 0);
    Frame();
    EXPECT_EQ(g_inst.selected, 6);
    // B leaves the program.
    PressPad(SDL_GAMEPAD_BUTTON_EAST);
    EXPECT_TRUE(g_quit);
}

TEST_F(Navigation, TheMouseSelectsInformationRowsAndKeysLeaveThemForTheNeighbours) {
    MoveTo(RowPoint(GAME_INFO));
    EXPECT_TRUE(g_inst.mouseMode);
    EXPECT_EQ(g_inst.selected, GAME_INFO) << "a disabled row with plain help is selected by hovering";
    Press(ImGuiKey_DownArrow);
    EXPECT_EQ(g_inst.selected, GAME_FOLDER) << "from the information row Down goes to the first";
    MoveTo(RowPoint(GAME_INFO));
    EXPECT_EQ(g_inst.selected, GAME_INFO);
    Press(ImGuiKey_UpArrow);
    EXPECT_EQ(g_inst.selected, COPY) << "and Up to the one before the last";
    // The header is never selected by the mouse; the selection stays.
    MoveTo(RowPoint(HEADER));
    EXPECT_EQ(g_inst.selected, COPY);
    // A click on a disabled row does nothing; on an enabled one it selects
    // and activates in the same frame.
    Click(RowPoint(GAME_INFO));
    EXPECT_EQ(g_inst.selected, GAME_INFO);
    EXPECT_TRUE(g_inst.subtitles);
    Click(RowPoint(SUBTITLES));
    EXPECT_EQ(g_inst.selected, SUBTITLES);
    EXPECT_FALSE(g_inst.subtitles);
}

TEST_F(Navigation, F5AndStartInstallOnlyWhileInstallingIsPossible) {
    // Single-file mode with an install folder that cannot be made: a started
    // installation reports it in the message dialog and changes nothing else.
    std::ofstream(tmp.path() / "file") << "x";
    g_inst.bundle = true;
    g_inst.installDir = tmp.path() / "file" / "inst";
    g_inst.checked = false; // the check has not finished: INSTALL is off
    ASSERT_FALSE(CanInstall());
    Press(ImGuiKey_F5);
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_EQ(g_inst.phase, Phase::Setup);

    g_inst.checked = true;
    ASSERT_TRUE(CanInstall());
    Press(ImGuiKey_F5);
    ASSERT_EQ(g_modal, Modal::Message);
    EXPECT_EQ(g_message[1], g_inst.installDir.string());
    Press(ImGuiKey_Enter);
    EXPECT_EQ(g_modal, Modal::None);

    if (AttachPad()) {
        PressPad(SDL_GAMEPAD_BUTTON_START);
        EXPECT_EQ(g_modal, Modal::Message);
        PressPad(SDL_GAMEPAD_BUTTON_SOUTH);
        EXPECT_EQ(g_modal, Modal::None);
    }

    // On the rows of a finished installation F5 does nothing.
    g_inst.phase = Phase::Done;
    Press(ImGuiKey_F5);
    EXPECT_EQ(g_modal, Modal::None);
    g_inst.phase = Phase::Setup;
    g_inst.bundle = false;
    g_inst.installDir.clear();
}

TEST_F(Navigation, EscapeAppliesTheShortcutsAndEnds) {
    g_inst.bundle = true;
    g_inst.phase = Phase::Done;
    g_inst.installDir = tmp.path() / "Games" / "Velkor";
    g_inst.selected = 2; // the desktop-shortcut row, as after an installation
    Frame();
    Press(ImGuiKey_Enter);
    EXPECT_FALSE(g_inst.desktopShortcut);
    EXPECT_FALSE(g_quit);
    Press(ImGuiKey_Escape);
    EXPECT_TRUE(g_quit);
    EXPECT_TRUE(g_inst.shortcutsDone);
    EXPECT_TRUE(fs::exists(tmp.path() / "home/.local/share/applications/velkorrecomp-velkorlumen.desktop"));
    EXPECT_FALSE(fs::exists(tmp.path() / "home/Desktop/velkorrecomp-velkorlumen.desktop"));
    EXPECT_EQ(RunFrame({}, m_frames), FrameTurn::Quit);
    g_inst.phase = Phase::Setup;
    g_inst.bundle = false;
}

TEST_F(Navigation, WhileTheDialogIsOpenNoInputReachesTheRows) {
    g_inst.selected = SUBTITLES;
    OpenMessage("first line", "second line");
    Press(ImGuiKey_DownArrow);
    EXPECT_EQ(g_inst.selected, SUBTITLES);
    EXPECT_EQ(g_modal, Modal::Message);
    // Enter closes the dialog and does not toggle the row under it.
    Press(ImGuiKey_Enter);
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_TRUE(g_inst.subtitles);
    // Escape closes it without leaving the program.
    OpenMessage("again", "");
    Press(ImGuiKey_Escape);
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_FALSE(g_quit);
    // Hovering still selects in mouse mode; the click that dismisses the
    // dialog does not press the row beneath, even when released over it.
    OpenMessage("click", "");
    MoveTo(RowPoint(REMASTER));
    EXPECT_EQ(g_inst.selected, REMASTER);
    Click(RowPoint(REMASTER));
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_FALSE(g_inst.remaster);
    // The next click is an ordinary one.
    Click(RowPoint(REMASTER));
    EXPECT_TRUE(g_inst.remaster);
}

TEST_F(Navigation, TheMenuInstallsOnlyWhenPossibleAndExitEnds) {
    // INSTALL while the prerequisites are still being checked: drawn off,
    // clicking it does nothing.
    g_inst.checking = true;
    const float installH = 54.0f;
    Click(g_view.P(236.0f, 384.0f + installH / 2.0f));
    EXPECT_EQ(g_inst.phase, Phase::Setup);
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_FALSE(g_quit);
    Click(g_view.P(236.0f, 384.0f + installH + 18.0f + 21.0f));
    EXPECT_TRUE(g_quit);
    g_inst.checking = false;
}

TEST_F(Navigation, AMessageUnderTheUnattendedFinishEndsWithStatusOne) {
    g_inst.autoFinish = true;
    g_inst.gpuKnown = true;
    g_inst.phase = Phase::Running; // nothing else would end the program
    ShowMessage("Not enough free space on this drive:", "needs 1 GB, free 2 MB");
    EXPECT_EQ(g_modal, Modal::Message);
    EXPECT_EQ(g_message[0], "Not enough free space on this drive:");
    Frame();
    EXPECT_EQ(g_modal, Modal::None);
    EXPECT_TRUE(g_quit);
    EXPECT_EQ(g_inst.finalCode, 1);
    g_inst.phase = Phase::Setup;
    g_inst.autoFinish = false;
}

} // namespace
