// Unattended end-to-end runs of the real program (the build that accepts the
// synthetic dump) on SDL's offscreen video driver: --autostart --autofinish
// --shots in single-file mode and without a payload, with the stand-in setup
// script doing the work. Checked from outside: exit status, the numbered
// screenshot series, setup.log and VelkorSetup.log.
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/payload_fixture.h"
#include "tests/support/synthetic_dump.h"

namespace fs = std::filesystem;
using payload_fixture::TempDir;

extern char** environ;

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

// Names of the PNG files in `folder`, sorted.
std::vector<std::string> Shots(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".png") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The pixel size in a PNG file's header; 0 x 0 when it is not a PNG.
std::pair<uint32_t, uint32_t> PngSize(const fs::path& file) {
    const std::string data = ReadFile(file);
    if (data.size() < 33 || data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || data.compare(12, 4, "IHDR") != 0) {
        return {0, 0};
    }
    const auto word = [&](size_t at) {
        return (uint32_t(uint8_t(data[at])) << 24) | (uint32_t(uint8_t(data[at + 1])) << 16) |
               (uint32_t(uint8_t(data[at + 2])) << 8) | uint32_t(uint8_t(data[at + 3]));
    };
    return {word(16), word(20)};
}

// What one run left behind.
struct RunResult {
    int status = -1;      // exit status; -1 when it did not exit normally
    std::string output;   // stdout and stderr
};

// One machine-wide environment for the program: offscreen video, no display,
// a private HOME and XDG folders, English, a GPU that needs no DLSS decision.
class UnattendedRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        dump = tmp.path() / "dump";
        ASSERT_TRUE(testsupport::WriteSyntheticDump(dump, error)) << error;
        home = tmp.path() / "home";
        shots = tmp.path() / "shots";
        env = {
            {"SDL_VIDEO_DRIVER", "offscreen"},
            {"SDL_AUDIO_DRIVER", "dummy"},
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / ".config").string()},
            {"XDG_DATA_HOME", (home / ".local/share").string()},
            {"XDG_CACHE_HOME", (home / ".cache").string()},
            {"VELKOR_SETUP_LANGUAGE", "en"},
            {"VELKOR_GPU_VENDOR", "amd"},
            {"VELKOR_STANDIN_SPEED", "4"},
            // Under AddressSanitizer: the Vulkan driver that the GPU detection
            // loads and unloads keeps an allocation of its own, which would
            // fail every single-file run; the screen code is leak-checked in
            // process by the other screen tests.
            {"ASAN_OPTIONS", std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") +
                                 ":detect_leaks=0"},
        };
        for (const char* sub : {".config", ".local/share", ".cache", "Desktop"}) fs::create_directories(home / sub);
    }

    // Copies the program to `exe` (made executable).
    static void InstallProgram(const fs::path& exe) {
        fs::create_directories(exe.parent_path());
        fs::copy_file(VELKOR_SYNTHETIC_LAUNCHER_BIN, exe, fs::copy_options::overwrite_existing);
        fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    }

    // A single-file image: image/usr/bin/VelkorLauncher beside image/payload.
    fs::path MakeImage(const std::string& tag) {
        const fs::path image = tmp.path() / "image";
        const fs::path exe = image / "usr" / "bin" / "VelkorLauncher";
        InstallProgram(exe);
        const auto entries = payload_fixture::SampleEntries(fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py",
                                                            Python());
        EXPECT_EQ(payload_fixture::WritePayload(image / "payload", tag, entries), "");
        return exe;
    }

    // An unpacked release folder: the program, tools/setup.py and the
    // toolchain's interpreter.
    fs::path MakeRelease() {
        const fs::path release = tmp.path() / "release";
        const fs::path exe = release / "VelkorLauncher";
        InstallProgram(exe);
        fs::create_directories(release / "tools");
        fs::copy_file(fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py", release / "tools" / "setup.py");
        fs::create_directories(release / "toolchain" / "python" / "bin");
        fs::create_symlink(Python(), release / "toolchain" / "python" / "bin" / "python3");
        return exe;
    }

    static fs::path Python() {
        for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3", "/bin/python3"}) {
            if (access(candidate, X_OK) == 0) return candidate;
        }
        return {};
    }

    // Runs `exe` with `args` in the test environment; killed after three
    // minutes so that a hung program fails the test instead of the suite.
    RunResult Start(const fs::path& exe, const std::vector<std::string>& args) {
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || env.count(name)) continue;
            envText.push_back(entry);
        }
        for (const auto& [name, value] : env) {
            if (!value.empty()) envText.push_back(name + "=" + value);
        }
        std::vector<std::string> argText = {exe.string()};
        argText.insert(argText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argText) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);

        int pipeFd[2];
        RunResult run;
        if (pipe(pipeFd) != 0) return run;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFd[1], 1);
            dup2(pipeFd[1], 2);
            close(pipeFd[0]);
            close(pipeFd[1]);
            alarm(180);
            execve(argv[0], argv.data(), envp.data());
            _exit(126);
        }
        close(pipeFd[1]);
        char chunk[4096];
        ssize_t got;
        while ((got = read(pipeFd[0], chunk, sizeof chunk)) > 0) run.output.append(chunk, size_t(got));
        close(pipeFd[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        // Built with the undefined-behaviour checker, the program reports here.
        EXPECT_EQ(run.output.find("runtime error:"), std::string::npos) << run.output;
        return run;
    }

    TempDir tmp{"velkor-unattended"};
    fs::path dump;
    fs::path home;
    fs::path shots;
    std::map<std::string, std::string> env;
};

// The series' files match "NN_name.png" numbered 01, 02, ... without gaps.
void ExpectNumbered(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "%02zu_", i + 1);
        EXPECT_EQ(names[i].substr(0, 3), prefix) << names[i];
    }
}

// "NN_stem.png" -> "stem"; empty when the name has another form.
std::string Stem(const std::string& name) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < 8 || !digit(name[0]) || !digit(name[1]) || name[2] != '_' ||
        name.compare(name.size() - 4, 4, ".png") != 0) {
        return "";
    }
    return name.substr(3, name.size() - 7);
}

// Some picture of a running step: "NN_step_K.png".
bool HasStepShot(const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::string& n) {
        const std::string stem = Stem(n);
        return stem.size() > 5 && stem.compare(0, 5, "step_") == 0 &&
               stem.find_first_not_of("0123456789", 5) == std::string::npos;
    });
}

TEST_F(UnattendedRun, SingleFileInstallsAndPhotographsEveryState) {
    const fs::path exe = MakeImage("v1.2-demo");
    const fs::path installDir = tmp.path() / "Games" / "Velkor";
    const RunResult run = Start(exe, {"--game", dump.string(), "--install-dir", installDir.string(), "--autostart",
                                "--autofinish", "--shots", shots.string()});
    ASSERT_EQ(run.status, 0) << run.output << ReadFile(exe.parent_path() / "VelkorSetup.log");

    const std::vector<std::string> names = Shots(shots);
    ExpectNumbered(names);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "01_setup.png");
    EXPECT_TRUE(HasStepShot(names));
    EXPECT_EQ(Stem(names.back()), "done") << names.back();
    // Every picture has the window's size (the window is as large as the
    // offscreen display allows, at most 1280 x 720 units).
    const auto size = PngSize(shots / names.front());
    EXPECT_GE(size.first, 800u);
    EXPECT_GE(size.second, 480u);
    for (const std::string& name : names) EXPECT_EQ(PngSize(shots / name), size) << name;

    // setup.log holds the script's own lines, protocol lines included.
    const std::string setupLog = ReadFile(installDir / "setup.log");
    EXPECT_NE(setupLog.find("@@step 1"), std::string::npos) << setupLog;
    EXPECT_NE(setupLog.find("All done."), std::string::npos) << setupLog;

    // VelkorSetup.log beside the program: one "ok" line per picture.
    const std::string log = ReadFile(exe.parent_path() / "VelkorSetup.log");
    for (const std::string& name : names) {
        EXPECT_NE(log.find("[setup] screenshot " + (shots / name).string() + ": ok"), std::string::npos) << name;
    }
    EXPECT_EQ(log.find(": failed"), std::string::npos) << log;
    // The finished installation wrote the shortcuts asked for by default.
    EXPECT_TRUE(fs::exists(home / ".local/share/applications/velkorrecomp-velkorlumen.desktop"));
}

TEST_F(UnattendedRun, WithoutPayloadBuildsInItsReleaseFolder) {
    const fs::path exe = MakeRelease();
    const RunResult run = Start(exe, {"--game", dump.string(), "--autostart", "--autofinish", "--shots", shots.string()});
    ASSERT_EQ(run.status, 0) << run.output << ReadFile(exe.parent_path() / "VelkorSetup.log");

    const std::vector<std::string> names = Shots(shots);
    ExpectNumbered(names);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "01_setup.png");
    EXPECT_TRUE(HasStepShot(names));
    EXPECT_EQ(Stem(names.back()), "done") << names.back();

    const std::string setupLog = ReadFile(exe.parent_path() / "setup.log");
    EXPECT_NE(setupLog.find("@@step 9"), std::string::npos) << setupLog;
    const std::string log = ReadFile(exe.parent_path() / "VelkorSetup.log");
    EXPECT_NE(log.find("[setup] screenshot"), std::string::npos) << log;
    // No payload, no finished single-file installation: no shortcut.
    EXPECT_FALSE(fs::exists(home / ".local/share/applications/velkorrecomp-velkorlumen.desktop"));
}

TEST_F(UnattendedRun, AnImageIndexedByVelkorMakePayloadInstalls) {
    // The payload folder as a release would lay it out, indexed by our tool.
    const fs::path image = tmp.path() / "image";
    const fs::path exe = image / "usr" / "bin" / "VelkorLauncher";
    InstallProgram(exe);
    const fs::path payload = image / "payload";
    fs::create_directories(payload / "tools");
    fs::copy_file(fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py", payload / "tools" / "setup.py");
    fs::create_directories(payload / "toolchain" / "python" / "bin");
    WriteFile(payload / "toolchain" / "python" / "bin" / "python3", "#!/bin/sh\nexec " + Python().string() + " \"$@\"\n");
    fs::permissions(payload / "toolchain" / "python" / "bin" / "python3", fs::perms::owner_all);
    WriteFile(payload / "docs" / "read me.txt", "ação\n");
    WriteFile(payload / "modding" / "tool.bin", std::string(5000, 'm'));
    fs::create_symlink("read me.txt", payload / "docs" / "README");
    const std::string tool = std::string(VELKOR_BUILD_DIR) + "/velkor-make-payload";
    ASSERT_EQ(std::system(("'" + tool + "' --tag 'v2 demo' --component modding=modding '" + payload.string() +
                           "' >/dev/null")
                              .c_str()),
              0);
    const std::string index = ReadFile(payload / ".velkorrecomp_payload");
    EXPECT_EQ(index.rfind("tag v2 demo\n", 0), 0u) << index;
    EXPECT_NE(index.find("file modding 5000 modding/tool.bin\n"), std::string::npos) << index;
    EXPECT_NE(index.find("link base docs/README\tread me.txt\n"), std::string::npos) << index;

    const fs::path installDir = tmp.path() / "inst";
    const RunResult run = Start(exe, {"--game", dump.string(), "--install-dir", installDir.string(), "--autostart",
                                      "--autofinish", "--shots", shots.string()});
    ASSERT_EQ(run.status, 0) << run.output << ReadFile(exe.parent_path() / "VelkorSetup.log");
    const fs::path root = installDir / "VelkorRecomp";
    EXPECT_EQ(ReadFile(root / "docs" / "read me.txt"), "ação\n");
    EXPECT_TRUE(fs::is_symlink(root / "docs" / "README"));
    EXPECT_FALSE(fs::exists(root / "modding" / "tool.bin")) << "left out without ASSETS FOR MODDING";
    EXPECT_EQ(ReadFile(installDir / ".velkorrecomp_version"), "v2 demo\n");
}

TEST_F(UnattendedRun, AFailingScriptEndsWithStatusOneAndAFailedShot) {
    const fs::path exe = MakeImage("");
    env["VELKOR_STANDIN_SCRIPT"] = "fail";
    const fs::path installDir = tmp.path() / "inst";
    const RunResult run = Start(exe, {"--game", dump.string(), "--install-dir", installDir.string(), "--autostart",
                                "--autofinish", "--shots", shots.string()});
    EXPECT_EQ(run.status, 1) << run.output;
    const std::vector<std::string> names = Shots(shots);
    ExpectNumbered(names);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(Stem(names.back()), "failed") << names.back();
    EXPECT_NE(ReadFile(installDir / "setup.log").find("something broke"), std::string::npos);
    EXPECT_FALSE(fs::exists(home / ".local/share/applications/velkorrecomp-velkorlumen.desktop"));
}

TEST_F(UnattendedRun, AMessageDialogUnderAutofinishEndsWithStatusOne) {
    const fs::path exe = MakeImage("");
    // The install folder's parent is a file: the folder cannot be made, and
    // the installer says so in its message dialog.
    WriteFile(tmp.path() / "blocker", "not a folder");
    const fs::path installDir = tmp.path() / "blocker" / "inst";
    const RunResult run = Start(exe, {"--game", dump.string(), "--install-dir", installDir.string(), "--autostart",
                                "--autofinish", "--shots", shots.string()});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_FALSE(fs::exists(installDir));
    // Nothing ran: the series has only the setup screen.
    const std::vector<std::string> names = Shots(shots);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) EXPECT_NE(name.find("setup"), std::string::npos) << name;
}

} // namespace
