// The screenshot series and the step numbering it shares with the progress
// view: state keys, the 20-frame wait, file names and numbers, the folder made
// on demand, and when the series counts as done for the unattended rules.
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/screen_progress.h"
#include "launcher/screen_rows.h"
#include "launcher/screen_shots.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;

namespace {

void SetStep(int step) {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.step = step;
}

class Series : public ::testing::Test {
protected:
    testsupport::TempDir tmp{"screen-series"};

    void SetUp() override {
        g_values.language = "english";
        g_inst.phase = Phase::Setup;
        g_inst.bundle = true;
        g_inst.extracting = false;
        g_inst.gpuKnown = false;
        g_inst.shots = tmp.path() / "a" / "b" / "shots";
        g_inst.pendingShot.clear();
        g_inst.lastShot.clear();
        g_inst.shotNumber = 0;
        g_inst.shotWait = 0;
        SetStep(0);
    }
    void TearDown() override {
        g_inst.shots.clear();
        g_inst.pendingShot.clear();
        g_inst.extracting = false;
        g_inst.phase = Phase::Setup;
        SetStep(0);
    }

    // Runs frames until a shot is pending; returns how many it took (at most
    // `limit`). The frame loop would write and clear it; here it is cleared.
    int FramesUntilShot(int limit, std::string& name) {
        for (int frame = 1; frame <= limit; ++frame) {
            TakeShots();
            if (!g_inst.pendingShot.empty()) {
                name = g_inst.pendingShot.filename().string();
                EXPECT_EQ(g_inst.pendingShot.parent_path(), g_inst.shots);
                g_inst.pendingShot.clear();
                return frame;
            }
        }
        return limit + 1;
    }
};

TEST_F(Series, StepNumbersOfBothModes) {
    struct Case {
        bool bundle;
        bool extracting;
        int step;
        int current;
    };
    const Case CASES[] = {
        {true, true, 0, 1},  {true, false, 0, 2}, {true, false, 1, 2},
        {true, false, 5, 6}, {true, false, 9, 10}, {false, false, 0, 0},
        {false, false, 1, 1}, {false, false, 9, 9},
    };
    for (const Case& c : CASES) {
        g_inst.bundle = c.bundle;
        g_inst.extracting = c.extracting;
        SetStep(c.step);
        EXPECT_EQ(CurrentShownStep(), c.current) << c.bundle << " " << c.extracting << " " << c.step;
    }
    g_inst.bundle = true;
    EXPECT_EQ(ShownStepCount(), 10);
    EXPECT_STREQ(T(ShownStep(0).name), "EXTRACTING FILES");
    EXPECT_STREQ(T(ShownStep(1).name), "PREREQUISITES");
    EXPECT_STREQ(T(ShownStep(9).name), "ASSETS FOR MODDING");
    g_inst.bundle = false;
    EXPECT_EQ(ShownStepCount(), 9);
    EXPECT_STREQ(T(ShownStep(0).name), "PREREQUISITES");
    EXPECT_STREQ(T(ShownStep(4).name), "RECOMPILING THE GAME CODE");
    g_values.language = "pt-br";
    EXPECT_STREQ(T(ShownStep(4).name), "RECOMPILANDO O CÓDIGO DO JOGO");
    EXPECT_STREQ(T(EXTRACT_STEP.name), "EXTRAINDO ARQUIVOS");
    EXPECT_STREQ(T(INSTALL_STEPS[7].name), "PASTA DO JOGO");
}

TEST_F(Series, StateKeys) {
    struct Case {
        Phase phase;
        bool gpuKnown;
        bool extracting;
        int step;
        const char* key;
    };
    const Case CASES[] = {
        {Phase::Setup, false, false, 0, "0_0u"}, {Phase::Setup, true, false, 3, "0_0k"},
        {Phase::Running, true, true, 0, "1_1"},  {Phase::Running, true, false, 3, "1_4"},
        {Phase::Done, true, false, 9, "2_0"},    {Phase::Failed, false, false, 5, "3_0"},
    };
    for (const Case& c : CASES) {
        g_inst.phase = c.phase;
        g_inst.gpuKnown = c.gpuKnown;
        g_inst.extracting = c.extracting;
        SetStep(c.step);
        EXPECT_EQ(ShotKey(), c.key);
    }
}

TEST_F(Series, EachStateIsTakenOnItsTwentiethFrameWithTheNextNumber) {
    std::string name;
    EXPECT_FALSE(InstallerShotsDone()) << "nothing captured yet";
    // The first frame notes the state, the 20th after it takes it.
    EXPECT_EQ(FramesUntilShot(40, name), 21);
    EXPECT_EQ(name, "01_setup.png");
    EXPECT_TRUE(fs::is_directory(g_inst.shots)) << "made with its parents";
    EXPECT_TRUE(InstallerShotsDone());
    for (int i = 0; i < 30; ++i) TakeShots();
    EXPECT_TRUE(g_inst.pendingShot.empty()) << "one picture per state";

    // A state that lasts fewer than 20 frames is skipped.
    g_inst.gpuKnown = true;
    for (int i = 0; i < 10; ++i) TakeShots();
    EXPECT_FALSE(InstallerShotsDone());
    g_inst.phase = Phase::Running;
    g_inst.extracting = true;
    EXPECT_EQ(FramesUntilShot(40, name), 21);
    EXPECT_EQ(name, "02_step_1.png");

    g_inst.extracting = false;
    SetStep(4);
    EXPECT_EQ(FramesUntilShot(40, name), 21);
    EXPECT_EQ(name, "03_step_5.png");

    g_inst.phase = Phase::Failed;
    TakeShots();
    EXPECT_FALSE(InstallerShotsDone()) << "a new state is waiting";
    EXPECT_EQ(FramesUntilShot(40, name), 20);
    EXPECT_EQ(name, "04_failed.png");

    g_inst.phase = Phase::Done;
    EXPECT_EQ(FramesUntilShot(40, name), 21);
    EXPECT_EQ(name, "05_done.png");
    EXPECT_EQ(g_inst.shotNumber, 5);
}

TEST_F(Series, APendingPictureKeepsTheSeriesOpen) {
    std::string name;
    for (int i = 0; i < 20; ++i) TakeShots();
    TakeShots();
    ASSERT_FALSE(g_inst.pendingShot.empty());
    EXPECT_FALSE(InstallerShotsDone()) << "taken but not yet written";
    g_inst.pendingShot.clear();
    EXPECT_TRUE(InstallerShotsDone());
    g_inst.gpuKnown = true; // the state changed and was not seen by the series yet
    EXPECT_FALSE(InstallerShotsDone());
}

TEST_F(Series, WithoutAFolderThereIsNoSeries) {
    g_inst.shots.clear();
    EXPECT_TRUE(InstallerShotsDone());
    for (int i = 0; i < 50; ++i) TakeShots();
    EXPECT_TRUE(g_inst.pendingShot.empty());
    EXPECT_EQ(g_inst.shotNumber, 0);
    EXPECT_FALSE(fs::exists(tmp.path() / "a"));
}

} // namespace
