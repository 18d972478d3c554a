// Folder resolution in process: the switch pairs, the remembered game folder,
// the game-folder test and the interactive picker (through the stand-in
// dialog tools). The layouts of the program's own folder are tested on the
// built program in launcher_paths_layout_test.
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/paths.h"

namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

void MakeGame(const fs::path& folder) {
    WriteFile(folder / "default.xex");
    WriteFile(folder / "default.rcf");
}

// Runs paths::Init with these arguments after the program name.
bool InitWith(std::initializer_list<std::string> args, bool askForGame = false) {
    std::vector<std::string> storage{"VelkorLauncher"};
    storage.insert(storage.end(), args);
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return paths::Init(static_cast<int>(storage.size()), argv.data(), askForGame);
}

class PathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_user = (m_dir.path() / "userdata").string();
        fs::create_directories(m_user);
    }
    TempDir m_dir;
    std::string m_user;  // an empty user-data folder: no remembered game
};

TEST(PathsGameFolder, NeedsBothFilesAsRegularFiles) {
    TempDir dir;
    const fs::path base = dir.path();
    MakeGame(base / "good");
    WriteFile(base / "onlyxex" / "default.xex");
    WriteFile(base / "dirxex" / "default.rcf");
    fs::create_directories(base / "dirxex" / "default.xex");
    MakeGame(base / "real");
    fs::create_directories(base / "links");
    fs::create_symlink(base / "real" / "default.xex", base / "links" / "default.xex");
    fs::create_symlink(base / "real" / "default.rcf", base / "links" / "default.rcf");
    fs::create_directories(base / "dangling");
    fs::create_symlink(base / "nowhere", base / "dangling" / "default.xex");
    WriteFile(base / "dangling" / "default.rcf");
    WriteFile(base / "plainfile");

    EXPECT_TRUE(paths::IsGameFolder(base / "good"));
    EXPECT_TRUE(paths::IsGameFolder(base / "links"));
    EXPECT_FALSE(paths::IsGameFolder(base / "onlyxex"));
    EXPECT_FALSE(paths::IsGameFolder(base / "dirxex"));
    EXPECT_FALSE(paths::IsGameFolder(base / "dangling"));
    EXPECT_FALSE(paths::IsGameFolder(base / "plainfile"));
    EXPECT_FALSE(paths::IsGameFolder(base / "absent"));

    // An empty path is no folder, even where the working directory holds a game.
    const fs::path previous = fs::current_path();
    fs::current_path(base / "good");
    EXPECT_TRUE(paths::IsGameFolder("."));
    EXPECT_FALSE(paths::IsGameFolder(""));
    fs::current_path(previous);
}

TEST_F(PathsTest, EverySwitchSetsItsFolder) {
    const fs::path b = m_dir.path();
    ASSERT_TRUE(InitWith({"--game", (b / "g").string(), "--mods", (b / "m").string(), "--userdata", m_user,
                          "--languages", (b / "l").string(), "--data", (b / "d").string(), "--image",
                          (b / "i.img").string()}));
    EXPECT_EQ(paths::Game(), b / "g");  // taken without checking for the game files
    EXPECT_EQ(paths::Mods(), b / "m");
    EXPECT_EQ(paths::UserData(), m_user);
    EXPECT_EQ(paths::Languages(), b / "l");
    EXPECT_EQ(paths::Data(), b / "d");
    EXPECT_EQ(paths::Image(), b / "i.img");
    EXPECT_EQ(paths::Xex(), b / "g" / "default.xex");
    EXPECT_FALSE(paths::GameChosenNow());
    EXPECT_EQ(paths::ExeDir(), fs::path(VELKOR_BUILD_DIR));

    ASSERT_TRUE(InitWith({"--xex", (b / "x.xex").string(), "--game", (b / "g").string()}));
    EXPECT_EQ(paths::Xex(), b / "x.xex");
}

TEST_F(PathsTest, ValuesAreMadeAbsoluteAsWritten) {
    ASSERT_TRUE(InitWith({"--userdata", m_user, "--game", "some/../relative/game", "--mods", "mods"}));
    EXPECT_EQ(paths::Game(), fs::current_path() / "some/../relative/game");
    EXPECT_EQ(paths::Mods(), fs::current_path() / "mods");
}

TEST_F(PathsTest, ArgumentsAreReadStrictlyInPairs) {
    const std::string g1 = (m_dir.path() / "g1").string();
    const std::string g2 = (m_dir.path() / "g2").string();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string game;
    } cases[] = {
        {"later pair wins", {"--userdata", m_user, "--game", g1, "--game", g2}, g2},
        {"unknown name skips its pair", {"--userdata", m_user, "--bogus", "--game", "--game", g1}, g1},
        {"names are case-sensitive", {"--userdata", m_user, "--GAME", g1}, ""},
        {"lone flag swallows the switch after it", {"--userdata", m_user, "--autostart", "--game", g1}, ""},
        {"trailing switch without value", {"--userdata", m_user, "--game"}, ""},
        {"empty value", {"--userdata", m_user, "--game", g1, "--game", ""}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> storage{"VelkorLauncher"};
        storage.insert(storage.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& arg : storage) argv.push_back(arg.data());
        ASSERT_TRUE(paths::Init(static_cast<int>(argv.size()), argv.data(), false)) << c.name;
        EXPECT_EQ(paths::Game(), fs::path(c.game)) << c.name;
        if (c.game.empty()) {
            EXPECT_TRUE(paths::Xex().empty()) << c.name;
        }
    }
}

TEST_F(PathsTest, RememberedGameFolderFromSettings) {
    const fs::path game = m_dir.path() / "Jogo #1";
    MakeGame(game);
    WriteFile(fs::path(m_user) / "settings.toml", "[Paths]\r\nGame = \"" + game.string() + "\" # saved\r\n");
    ASSERT_TRUE(InitWith({"--userdata", m_user}));
    EXPECT_EQ(paths::Game(), game);
    EXPECT_EQ(paths::Xex(), game / "default.xex");

    // --game comes first, and a remembered folder without the game files is dropped.
    ASSERT_TRUE(InitWith({"--userdata", m_user, "--game", "/elsewhere"}));
    EXPECT_EQ(paths::Game(), fs::path("/elsewhere"));
    fs::remove(game / "default.rcf");
    ASSERT_TRUE(InitWith({"--userdata", m_user}));
    EXPECT_TRUE(paths::Game().empty());
    EXPECT_TRUE(paths::Xex().empty());
}

// The picker runs the stand-in zenity, which answers from a file and logs its calls.
class PathsPickerTest : public PathsTest {
protected:
    void SetUp() override {
        PathsTest::SetUp();
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        m_answers = m_dir.path() / "answers";
        m_log = m_dir.path() / "dialogs.log";
        setenv("PATH", (fs::path(VELKOR_SOURCE_DIR) / "tests/support/bin").c_str(), 1);
        setenv("STANDIN_ANSWERS", m_answers.c_str(), 1);
        setenv("STANDIN_LOG", m_log.c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", m_oldPath.c_str(), 1);
        unsetenv("STANDIN_ANSWERS");
        unsetenv("STANDIN_LOG");
    }
    std::string m_oldPath;
    fs::path m_answers, m_log;
};

TEST_F(PathsPickerTest, AsksUntilAGameFolderIsChosen) {
    const fs::path bad = m_dir.path() / "empty";
    const fs::path good = m_dir.path() / "dump";
    fs::create_directories(bad);
    MakeGame(good);
    WriteFile(m_answers, "0 " + bad.string() + "\n0\n0 " + good.string() + "\n");

    ASSERT_TRUE(InitWith({"--userdata", m_user}, true));
    EXPECT_EQ(paths::Game(), good);
    EXPECT_TRUE(paths::GameChosenNow());
    EXPECT_EQ(paths::Xex(), good / "default.xex");
    const std::string calls = ReadFile(m_log);
    EXPECT_NE(calls.find("escolha a pasta do jogo (com default.xex e default.rcf)"), std::string::npos) << calls;
    EXPECT_NE(calls.find("--warning"), std::string::npos) << calls;
    EXPECT_NE(calls.find("Essa pasta n\\u00e3o tem default.xex e default.rcf."), std::string::npos) << calls;
}

TEST_F(PathsPickerTest, CancelEndsWithAnErrorAndFalse) {
    WriteFile(m_answers, "1\n");  // the picker is cancelled
    EXPECT_FALSE(InitWith({"--userdata", m_user}, true));
    EXPECT_TRUE(paths::Game().empty());
    EXPECT_FALSE(paths::GameChosenNow());
    const std::string calls = ReadFile(m_log);
    EXPECT_NE(calls.find("--error"), std::string::npos) << calls;
    EXPECT_NE(calls.find("Sem a pasta do jogo"), std::string::npos) << calls;

    // Without asking, the same situation is no failure.
    EXPECT_TRUE(InitWith({"--userdata", m_user}, false));
}

} // namespace
