// The built program copied into installed, plain and development layouts:
// where it looks for the game, mods, user data, languages and data, as its
// VelkorSetup.log tells. Run with --autostart so that no dialog opens, with
// HOME and the XDG folders in a temporary folder.
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

void MakeGame(const fs::path& folder) {
    WriteFile(folder / "default.xex");
    WriteFile(folder / "default.rcf");
}

bool HasLine(const std::string& log, const std::string& line) {
    return ("\n" + log).find("\n" + line + "\n") != std::string::npos;
}

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_home = m_dir.path() / "home";
        fs::create_directories(m_home / ".config");
        fs::create_directories(m_home / ".local/share");
        fs::create_directories(m_home / ".cache");
        fs::create_directories(m_home / "runtime");
        fs::permissions(m_home / "runtime", fs::perms::owner_all);
    }

    // Copies the program to folder/VelkorLauncher.
    fs::path Install(const fs::path& folder) {
        fs::create_directories(folder);
        fs::copy_file(VELKOR_LAUNCHER_BIN, folder / "VelkorLauncher", fs::copy_options::overwrite_existing);
        return folder / "VelkorLauncher";
    }

    // Runs the program from its folder with --autostart and the given arguments
    // and returns its log once the folder resolution is written: when the
    // program ends, or when a later start-up line shows that it went on (then
    // it is stopped, with every process it started).
    std::string Run(const fs::path& exe, std::vector<std::string> args = {}) {
        const fs::path log = exe.parent_path() / "VelkorSetup.log";
        std::error_code ec;
        fs::remove(log, ec);
        std::vector<std::string> argStore{exe.string(), "--autostart"};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> envStore{
            "HOME=" + m_home.string(),
            "XDG_CONFIG_HOME=" + (m_home / ".config").string(),
            "XDG_DATA_HOME=" + (m_home / ".local/share").string(),
            "XDG_CACHE_HOME=" + (m_home / ".cache").string(),
            "XDG_RUNTIME_DIR=" + (m_home / "runtime").string(),
            "PATH=" + (fs::path(VELKOR_SOURCE_DIR) / "tests/support/bin").string() + ":/usr/bin:/bin",
            "SDL_VIDEO_DRIVER=offscreen",
            "SDL_AUDIO_DRIVER=dummy",
            "VELKOR_SETUP_LANGUAGE=en",
            "STANDIN_LOG=" + (m_dir.path() / "dialogs.log").string(),
        };
        std::vector<char*> argv, envp;
        for (auto& a : argStore) argv.push_back(a.data());
        for (auto& e : envStore) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            if (::chdir(m_dir.path().c_str()) != 0) _exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (pid < 0) return {};
        ::setpgid(pid, pid);

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool ended = false;
        for (;;) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            const std::string text = ReadFile(log);
            // Everything after the folder resolution: the mount table's last
            // line, or the launcher's next words when there is no game folder.
            if (text.find("[fs] user data: ") != std::string::npos ||
                (text.find("[paths] no game folder yet") != std::string::npos &&
                 text.find("\n[", text.find("[paths] exe ", text.find("[paths] no game folder yet"))) !=
                     std::string::npos)) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the program wrote no folder resolution within 60 s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!ended) {
            ::kill(-pid, SIGTERM);
            for (int i = 0; i < 250; ++i) {
                int status = 0;
                if (::waitpid(pid, &status, WNOHANG) == pid) {
                    ended = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!ended) {
                ::kill(-pid, SIGKILL);
                int status = 0;
                ::waitpid(pid, &status, 0);
            }
        }
        return ReadFile(log);
    }

    TempDir m_dir;
    fs::path m_home;
};

TEST_F(LayoutTest, InstalledLayoutKeepsModsAndUserDataNextToTheProgram) {
    const fs::path inst = m_dir.path() / "Velkor";
    const fs::path exe = Install(inst);
    fs::create_directories(inst / "VelkorRecomp" / "languages");
    fs::create_directories(inst / "VelkorRecomp" / "data");
    MakeGame(inst / "game");
    fs::create_directories(inst / "mods" / "HdPack");

    const std::string log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] exe " + inst.string())) << log;
    EXPECT_TRUE(HasLine(log, "[paths] game " + (inst / "game").string() + " (game\\ next to the exe)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] mods " + (inst / "mods").string() + ", userdata " + (inst / "userdata").string()))
        << log;
    EXPECT_TRUE(HasLine(log, "[paths] languages " + (inst / "VelkorRecomp" / "languages").string() + ", data " +
                                 (inst / "VelkorRecomp" / "data").string()))
        << log;
    // The mount table follows with the same folders.
    EXPECT_TRUE(HasLine(log, "[fs] game folder: " + (inst / "game").string())) << log;
    EXPECT_TRUE(HasLine(log, "[fs] mods folder: " + (inst / "mods").string() + ", 1 mod(s)")) << log;
    EXPECT_TRUE(HasLine(log, "[fs]   1. HdPack")) << log;
    EXPECT_TRUE(HasLine(log, "[fs] user data: " + (inst / "userdata").string())) << log;
}

TEST_F(LayoutTest, PlainLayoutSourcesOfTheGameFolder) {
    const fs::path plain = m_dir.path() / "plain";
    const fs::path exe = Install(plain);
    const fs::path dump = m_dir.path() / "My Dump #1";
    MakeGame(dump);
    const std::string missingData = " (missing: no subtitles text, symbols or HD AI Remaster)";

    // Nothing anywhere: no game folder, and the summary line.
    std::string log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] no game folder yet")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] exe " + plain.string() + ", mods " + (plain / "mods").string() + ", userdata " +
                                 (plain / "userdata").string() + ", languages " + (plain / "languages").string() +
                                 ", data " + (plain / "data").string()))
        << log;
    EXPECT_EQ(log.find("[fs] "), std::string::npos) << log;

    // Remembered in settings.toml.
    WriteFile(plain / "userdata" / "settings.toml", "[PATHS]\r\ngame = \"" + dump.string() + "\"  # mine\r\n");
    log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] exe " + plain.string())) << log;
    EXPECT_TRUE(HasLine(log, "[paths] game " + dump.string() + " (settings.toml [paths] game)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] languages " + (plain / "languages").string() + ", data " +
                                 (plain / "data").string() + missingData))
        << log;

    // The game folder next to the program comes before the remembered one.
    MakeGame(plain / "game");
    fs::create_directories(plain / "data");
    log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] game " + (plain / "game").string() + " (game\\ next to the exe)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] languages " + (plain / "languages").string() + ", data " +
                                 (plain / "data").string()))
        << log;

    // --game wins, even for a folder without the game files, and takes other folders along.
    const fs::path given = m_dir.path() / "given";
    fs::create_directories(given);
    log = Run(exe, {"--game", given.string(), "--mods", (m_dir.path() / "m").string(), "--userdata",
                    (m_dir.path() / "u").string()});
    EXPECT_TRUE(HasLine(log, "[paths] game " + given.string() + " (--game)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] mods " + (m_dir.path() / "m").string() + ", userdata " +
                                 (m_dir.path() / "u").string()))
        << log;

    // A remembered folder without the game files is reported and dropped.
    fs::remove_all(plain / "game");
    fs::remove(dump / "default.rcf");
    log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] " + dump.string() + " (settings.toml) has no default.xex / default.rcf")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] no game folder yet")) << log;
    EXPECT_FALSE(fs::exists(m_dir.path() / "dialogs.log"));  // never asked
}

TEST_F(LayoutTest, DevelopmentCheckoutTakesFoldersFromTheProject) {
    const fs::path project = m_dir.path() / "checkout";
    const fs::path exe = Install(project / "build");
    WriteFile(project / "CMakeLists.txt", "project(x)\n");
    fs::create_directories(project / "runtime");
    MakeGame(project / "game");
    const std::string devSuffix = " (development build: data from the project)";

    std::string log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] exe " + (project / "build").string() + devSuffix)) << log;
    EXPECT_TRUE(HasLine(log, "[paths] game " + (project / "game").string() + " (game\\ next to the exe)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] mods " + (project / "mods").string() + ", userdata " +
                                 (project / "userdata").string()))
        << log;
    EXPECT_NE(log.find("[paths] languages " + (project / "languages").string() + ", data " +
                       (project / "private").string()),
              std::string::npos)
        << log;

    // With a dist folder, the player's folders move into it.
    MakeGame(project / "dist" / "game");
    log = Run(exe);
    EXPECT_TRUE(HasLine(log, "[paths] game " + (project / "dist" / "game").string() + " (game\\ next to the exe)"))
        << log;
    EXPECT_TRUE(HasLine(log, "[paths] mods " + (project / "dist" / "mods").string() + ", userdata " +
                                 (project / "dist" / "userdata").string()))
        << log;

    // A languages folder next to the program makes it a plain layout again.
    fs::create_directories(project / "build" / "languages");
    log = Run(exe, {"--game", (project / "game").string()});
    EXPECT_TRUE(HasLine(log, "[paths] exe " + (project / "build").string())) << log;
    EXPECT_TRUE(HasLine(log, "[paths] game " + (project / "game").string() + " (--game)")) << log;
    EXPECT_TRUE(HasLine(log, "[paths] languages " + (project / "build" / "languages").string() + ", data " +
                                 (project / "build" / "data").string() +
                                 " (missing: no subtitles text, symbols or HD AI Remaster)"))
        << log;
}

} // namespace
