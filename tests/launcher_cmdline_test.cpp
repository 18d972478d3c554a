// The command line: the switch table, the probe child mode, and the dump
// steps of start-up that decide which game folder reaches the folder resolution.
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "launcher/dialogs.h"
#include "launcher/launcher.h"

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

using testsupport::TempDir;

struct Expect {
    Args pathArgs;                // after the program name
    std::string screenshot;
    LaunchChoices choices;
};

LaunchChoices With(void (*change)(LaunchChoices&)) {
    LaunchChoices c;
    change(c);
    return c;
}

TEST(ScanCommandLine, SwitchTable) {
    struct Case {
        const char* name;
        Args args; // after the program name
        Expect expect;
    };
    const std::vector<Case> cases = {
        {"no arguments", {}, {{}, "", {}}},
        {"autostart", {"--autostart"}, {{}, "", With([](LaunchChoices& c) { c.autoStart = true; })}},
        {"autofinish", {"--autofinish"}, {{}, "", With([](LaunchChoices& c) { c.autoFinish = true; })}},
        {"both unattended switches",
         {"--autofinish", "--autostart"},
         {{}, "", With([](LaunchChoices& c) { c.autoStart = c.autoFinish = true; })}},
        {"screenshot", {"--screenshot", "a.png"}, {{}, "a.png", {}}},
        {"last screenshot wins", {"--screenshot", "a.png", "--screenshot", "b.png"}, {{}, "b.png", {}}},
        {"screenshot as last argument passes through", {"--screenshot"}, {{"--screenshot"}, "", {}}},
        {"tab and view swallow their value", {"--tab", "3", "--view", "main", "x"}, {{"x"}, "", {}}},
        {"tab without value passes through", {"--tab"}, {{"--tab"}, "", {}}},
        {"install-dir and shots never reach the folders",
         {"--install-dir", "here", "--shots", "there"},
         {{}, "", {}}},
        {"install-dir without value passes through", {"--install-dir"}, {{"--install-dir"}, "", {}}},
        {"game, mods and userdata pass through in pairs",
         {"--game", "/g", "--mods", "/m", "--userdata", "/u"},
         {{"--game", "/g", "--mods", "/m", "--userdata", "/u"}, "", {}}},
        {"unknown words pass through in order", {"b", "--x", "a"}, {{"b", "--x", "a"}, "", {}}},
        {"option words set the choices",
         {"--option", "remaster", "--option", "assets", "--option", "copy", "--option", "no-desktop",
          "--option", "no-startmenu", "--option", "no-subtitles"},
         {{},
          "",
          With([](LaunchChoices& c) {
              c.remaster = c.extractAssets = c.copyGame = true;
              c.desktopShortcut = c.startMenu = c.subtitles = false;
          })}},
        {"copy then no-subtitles",
         {"--option", "copy", "--option", "no-subtitles"},
         {{}, "", With([](LaunchChoices& c) {
              c.copyGame = true;
              c.subtitles = false;
          })}},
        {"later options win",
         {"--option", "no-desktop", "--option", "desktop", "--option", "no-subtitles", "--option", "subtitles"},
         {{}, "", {}}},
        {"option words are case-sensitive and unknown ones are ignored",
         {"--option", "Copy", "--option", "COPY", "--option", "fast"},
         {{}, "", {}}},
        {"option without value passes through", {"--option"}, {{"--option"}, "", {}}},
        {"switch names are case-sensitive", {"--AutoStart", "--Screenshot", "x"}, {{"--AutoStart", "--Screenshot", "x"}, "", {}}},
        {"a switch is taken as a value", {"--screenshot", "--autostart"}, {{}, "--autostart", {}}},
        {"probe word with one value", {"--probe-dlss", "a"}, {{"--probe-dlss", "a"}, "", {}}},
        {"probe word with three values",
         {"--probe-dlss", "a", "b", "c"},
         {{"--probe-dlss", "a", "b", "c"}, "", {}}},
        {"probe word not first",
         {"--autostart", "--probe-dlss", "a", "b"},
         {{"--probe-dlss", "a", "b"}, "", With([](LaunchChoices& c) { c.autoStart = true; })}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Args args = {"/opt/VelkorLauncher"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandLine cl = ScanCommandLine(args);
        EXPECT_FALSE(cl.probe);
        Args expectedPath = {"/opt/VelkorLauncher"};
        expectedPath.insert(expectedPath.end(), c.expect.pathArgs.begin(), c.expect.pathArgs.end());
        EXPECT_EQ(cl.pathArgs, expectedPath);
        EXPECT_EQ(cl.screenshot, fs::path(c.expect.screenshot));
        const LaunchChoices& g = cl.choices;
        const LaunchChoices& e = c.expect.choices;
        EXPECT_EQ(g.autoStart, e.autoStart);
        EXPECT_EQ(g.autoFinish, e.autoFinish);
        EXPECT_EQ(g.subtitles, e.subtitles);
        EXPECT_EQ(g.remaster, e.remaster);
        EXPECT_EQ(g.extractAssets, e.extractAssets);
        EXPECT_EQ(g.copyGame, e.copyGame);
        EXPECT_EQ(g.desktopShortcut, e.desktopShortcut);
        EXPECT_EQ(g.startMenu, e.startMenu);
    }
}

TEST(ScanCommandLine, ProbeModeIsExactlyThreeArgumentsStartingWithTheSwitch) {
    const CommandLine cl = ScanCommandLine({"prog", "--probe-dlss", "/mods", "/tmp/r.txt"});
    EXPECT_TRUE(cl.probe);
    EXPECT_EQ(cl.probeFolder, fs::path("/mods"));
    EXPECT_EQ(cl.probeResult, fs::path("/tmp/r.txt"));
    EXPECT_FALSE(ScanCommandLine({"prog", "--probe-dlss", "/mods"}).probe);
    EXPECT_FALSE(ScanCommandLine({"prog", "--probe-dlss", "/mods", "/r", "x"}).probe);
    EXPECT_FALSE(ScanCommandLine({"prog", "/mods", "--probe-dlss", "/r"}).probe);
}

TEST(ScanCommandLine, StartsFromTheGivenChoices) {
    LaunchChoices start;
    start.copyGame = true;
    start.subtitles = false;
    const CommandLine cl = ScanCommandLine({"prog", "--option", "remaster"}, start);
    EXPECT_TRUE(cl.choices.copyGame);
    EXPECT_FALSE(cl.choices.subtitles);
    EXPECT_TRUE(cl.choices.remaster);
}

// --- The dump steps -----------------------------------------------------------

void MakeDump(const fs::path& folder) {
    fs::create_directories(folder / "shaders");
    for (const char* name : {"default.rcf", "english.rcf", "sound1.rcf", "sound2.rcf"})
        std::ofstream(folder / name) << "RCF";
    std::string xex(65536, '\0');
    xex[0] = 'X', xex[1] = 'E', xex[2] = 'X', xex[3] = '2';
    for (uint64_t i = 4; i < xex.size(); ++i) xex[i] = char(((i * 2654435761u) & 0xffffffffu) >> 24);
    std::ofstream(folder / "default.xex", std::ios::binary) << xex;
}

int g_questionsAsked = 0;
int QuitEveryTime(const char*, const std::string&, std::initializer_list<const char*>, bool) {
    ++g_questionsAsked;
    return 1;
}

class GameFolderSteps : public ::testing::Test {
protected:
    TempDir t;
    fs::path good = t.path() / "good";
    fs::path bad = t.path() / "bad";
    fs::path exeDir = t.path() / "exe";

    void SetUp() override {
        MakeDump(good);
        fs::create_directories(bad);
        fs::create_directories(exeDir);
        setenv("PATH", VELKOR_SOURCE_DIR "/tests/support/bin:/usr/bin:/bin", 1);
        setenv("STANDIN_LOG", (t.path() / "standin.log").c_str(), 1);
        setenv("STANDIN_ANSWERS", (t.path() / "answers").c_str(), 1);
        g_questionsAsked = 0;
        SetAskButtonsForTesting(QuitEveryTime);
    }
    void TearDown() override { SetAskButtonsForTesting(nullptr); }

    // The folder picker's answer: empty cancels.
    void Pick(const fs::path& folder) {
        fs::remove(t.path() / "answers.pos");
        std::ofstream(t.path() / "answers") << (folder.empty() ? "1" : "0 " + folder.string()) << "\n";
    }
    int Pickers() {
        int n = 0;
        std::ifstream in(t.path() / "standin.log");
        for (std::string line; std::getline(in, line);) n += line.find("--file-selection") != std::string::npos;
        return n;
    }
};

TEST_F(GameFolderSteps, GivenFolderThatIsADumpIsKept) {
    Args p = {"prog", "--game", good.string()};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game", good.string()}));
    EXPECT_EQ(Pickers(), 0);
}

TEST_F(GameFolderSteps, GivenBadFolderIsReplacedByTheChosenOne) {
    Pick(good);
    Args p = {"prog", "--mods", "/m", "--game", bad.string()};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--mods", "/m", "--game", good.string()}));
    EXPECT_EQ(Pickers(), 1);
}

TEST_F(GameFolderSteps, OnlyTheFirstGameIsChecked) {
    Pick(good);
    Args p = {"prog", "--game", bad.string(), "--game", "/elsewhere"};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game", good.string(), "--game", "/elsewhere"}));
}

TEST_F(GameFolderSteps, AutostartNeverAsks) {
    Args p = {"prog", "--game", bad.string()};
    EXPECT_TRUE(ResolveGameFolder(p, true, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game", bad.string()}));
    Args none = {"prog"};
    EXPECT_TRUE(ResolveGameFolder(none, true, false, exeDir));
    EXPECT_EQ(none, Args{"prog"}); // no dist/game next to the program
    EXPECT_EQ(Pickers(), 0);
}

TEST_F(GameFolderSteps, GivingUpEndsTheProgram) {
    Pick({});
    Args p = {"prog", "--game", bad.string()};
    EXPECT_FALSE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(g_questionsAsked, 1);
    Pick({});
    Args none = {"prog"};
    EXPECT_FALSE(ResolveGameFolder(none, false, false, exeDir));
}

TEST_F(GameFolderSteps, DistGameNextToTheProgramIsUsed) {
    MakeDump(exeDir / "dist" / "game");
    Args p = {"prog", "x"};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "x", "--game", (exeDir / "dist" / "game").string()}));
    EXPECT_EQ(Pickers(), 0);
}

TEST_F(GameFolderSteps, WithoutGameTheChosenFolderIsAppended) {
    Pick(t.path()); // the parent: the dump in its sub-folder "good" is found
    Args p = {"prog"};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game", good.string()}));
}

TEST_F(GameFolderSteps, UnderAutostartAGameFolderWithoutTheRestIsStillPassed) {
    // Only the two main files: no dump check under --autostart, but it is a game folder.
    fs::create_directories(exeDir / "dist" / "game");
    std::ofstream(exeDir / "dist" / "game" / "default.xex") << "x";
    std::ofstream(exeDir / "dist" / "game" / "default.rcf") << "x";
    Args p = {"prog"};
    EXPECT_TRUE(ResolveGameFolder(p, true, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game", (exeDir / "dist" / "game").string()}));
}

TEST_F(GameFolderSteps, LoneGameAtTheEndIsNeitherCheckedNorCompleted) {
    Args p = {"prog", "--game"};
    EXPECT_TRUE(ResolveGameFolder(p, false, false, exeDir));
    EXPECT_EQ(p, (Args{"prog", "--game"}));
    EXPECT_EQ(Pickers(), 0);
}

} // namespace
