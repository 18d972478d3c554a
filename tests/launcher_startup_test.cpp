// Start-up of the program as a user meets it: a copy of the program in a
// folder of its own, the stand-in dialog tools on PATH, SDL's offscreen video
// driver (so the question box cannot be shown and counts as a refusal), and
// the log read back from next to the program. Every run is in single-screenshot
// mode, so a run that gets past start-up draws one frame and ends.
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/wait.h>

#include "tests/support/synthetic_dump.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

void MakeDump(const fs::path& folder) {
    fs::create_directories(folder / "shaders");
    for (const char* name : {"default.rcf", "english.rcf", "sound1.rcf", "sound2.rcf"})
        std::ofstream(folder / name) << "RCF";
    std::string xex(65536, '\0');
    xex[0] = 'X', xex[1] = 'E', xex[2] = 'X', xex[3] = '2';
    for (uint64_t i = 4; i < xex.size(); ++i) xex[i] = char(((i * 2654435761u) & 0xffffffffu) >> 24);
    std::ofstream(folder / "default.xex", std::ios::binary) << xex;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first line after start-up, written when the window opens.
const char* const WINDOW_LINE = "[launcher] window ";

class Startup : public ::testing::Test {
protected:
    TempDir t;
    fs::path programDir = t.path() / "program";
    fs::path good = t.path() / "good";
    fs::path bad = t.path() / "bad";

    void SetUp() override {
        fs::create_directories(programDir);
        fs::create_directories(t.path() / "home");
        fs::create_directories(bad);
        MakeDump(good);
    }

    // Runs a copy of `program` from its own folder with the arguments and the
    // folder picker's answers ("1" cancels, "0 <folder>" picks).
    int Run(const std::vector<std::string>& args, const std::vector<std::string>& picks = {},
            const std::string& env = "", const char* program = VELKOR_SYNTHETIC_LAUNCHER_BIN) {
        fs::copy_file(program, programDir / "VelkorLauncher", fs::copy_options::overwrite_existing);
        {
            std::ofstream answers(t.path() / "answers");
            for (const std::string& p : picks) answers << p << "\n";
        }
        fs::remove(t.path() / "answers.pos");
        fs::remove(t.path() / "standin.log");
        const std::string home = (t.path() / "home").string();
        // The environment is emptied, except for the sanitizers' own settings.
        std::string keep;
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
            if (const char* value = getenv(name)) keep += std::string(name) + "='" + value + "' ";
        std::string command = "cd '" + t.path().string() + "' && env -i PATH='" VELKOR_SOURCE_DIR
                              "/tests/support/bin:/usr/bin:/bin' HOME='" + home + "' XDG_CONFIG_HOME='" + home +
                              "/.config' XDG_DATA_HOME='" + home + "/.local/share' TMPDIR='" + t.path().string() +
                              "' SDL_VIDEO_DRIVER=offscreen STANDIN_LOG='" + (t.path() / "standin.log").string() +
                              "' STANDIN_ANSWERS='" + (t.path() / "answers").string() + "' " + keep + env + " '" +
                              (programDir / "VelkorLauncher").string() + "'";
        for (const std::string& a : args) command += " '" + a + "'";
        command += " --screenshot '" + (t.path() / "shot.png").string() + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Log() { return Read(programDir / "VelkorSetup.log"); }
    int Pickers() {
        int n = 0;
        std::ifstream in(t.path() / "standin.log");
        for (std::string line; std::getline(in, line);) n += line.find("--file-selection") != std::string::npos;
        return n;
    }
    std::string Standin() { return Read(t.path() / "standin.log"); }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Startup, NoArgumentsAsksAndCancellingEndsWithZero) {
    EXPECT_EQ(Run({}, {"1"}), 0);
    EXPECT_EQ(Pickers(), 1);
    EXPECT_TRUE(Has(Standin(), "--title=Choose the folder of your Velkor")) << Standin();
    EXPECT_EQ(Log(), "[setup] game folder not chosen\n");
}

TEST_F(Startup, ThePromptSpeaksTheInstallersLanguage) {
    EXPECT_EQ(Run({}, {"1"}, "LANGUAGE=pt_BR LANG=en_US.UTF-8"), 0);
    EXPECT_TRUE(Has(Standin(), "--title=Escolha a pasta do seu Velkor")) << Standin();
    EXPECT_EQ(Run({}, {"1"}, "VELKOR_SETUP_LANGUAGE=en LANG=pt_BR"), 0);
    EXPECT_TRUE(Has(Standin(), "--title=Choose the folder of your Velkor")) << Standin();
}

TEST_F(Startup, ACompatibleGameFolderGoesStraightThrough) {
    EXPECT_EQ(Run({"--game", good.string()}), 0);
    EXPECT_EQ(Pickers(), 0);
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "[paths] game " + good.string() + " (--game)")) << log;
    EXPECT_TRUE(Has(log, WINDOW_LINE)) << log;
}

// The mount table is built, then the art loader runs (its line may come
// before or after the window's, as the window waits for it only later).
TEST_F(Startup, TheGameArtLoaderStartsBeforeTheWindow) {
    std::string error;
    ASSERT_TRUE(testsupport::WriteSyntheticDump(t.path() / "full", error)) << error;
    EXPECT_EQ(Run({"--game", (t.path() / "full").string()}), 0);
    const std::string log = Log();
    const size_t fs = log.find("[fs] ");
    const size_t art = log.find("[settings] screen art");
    const size_t window = log.find(WINDOW_LINE);
    ASSERT_NE(fs, std::string::npos) << "the mount table was built: " << log;
    ASSERT_NE(art, std::string::npos) << "the art loader ran: " << log;
    ASSERT_NE(window, std::string::npos) << log;
    EXPECT_LT(fs, art);
    EXPECT_LT(fs, window);
}

TEST_F(Startup, ABadGameFolderIsReplacedByThePickedOne) {
    EXPECT_EQ(Run({"--game", bad.string()}, {"0 " + good.string()}), 0);
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "[setup] game folder " + good.string() + "\n")) << log;
    EXPECT_TRUE(Has(log, "[paths] game " + good.string() + " (--game)")) << log;
}

TEST_F(Startup, TwoGameFoldersOnlyTheFirstIsCheckedAndTheLastWins) {
    const fs::path other = t.path() / "other";
    EXPECT_EQ(Run({"--game", bad.string(), "--game", other.string()}, {"0 " + good.string()}), 0);
    EXPECT_EQ(Pickers(), 1);
    EXPECT_TRUE(Has(Log(), "[paths] game " + other.string() + " (--game)")) << Log();
}

TEST_F(Startup, AutostartSkipsThePrompt) {
    EXPECT_EQ(Run({"--game", bad.string(), "--autostart"}), 0);
    EXPECT_EQ(Pickers(), 0);
    EXPECT_TRUE(Has(Log(), "[paths] game " + bad.string() + " (--game)")) << Log();
}

TEST_F(Startup, DistGameNextToTheProgram) {
    MakeDump(programDir / "dist" / "game");
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(Pickers(), 0);
    EXPECT_TRUE(Has(Log(), "[paths] game " + (programDir / "dist" / "game").string() + " (--game)")) << Log();
}

TEST_F(Startup, GivingUpOnABadFolderEndsWithZero) {
    EXPECT_EQ(Run({"--game", bad.string(), "--option", "copy"}, {"0 " + bad.string()}), 0);
    EXPECT_EQ(Pickers(), 1);
    EXPECT_EQ(Log(), "[setup] game folder not chosen\n");
}

TEST_F(Startup, TheReleaseProgramDoesNotAcceptTheSyntheticDump) {
    EXPECT_EQ(Run({"--game", good.string()}, {"1"}, "", VELKOR_LAUNCHER_BIN), 0);
    EXPECT_EQ(Pickers(), 1);
    EXPECT_EQ(Log(), "[setup] game folder not chosen\n");
}

} // namespace
