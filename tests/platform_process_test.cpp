// Libraries, the running program, child processes, environment and display
// mode of the platform layer, as the installer meets them.
#include "runtime/platform/platform.h"

#include "tests/support/files.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

using testsupport::ReadFile;

bool WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

// Builds a shared library exporting velkor_probe_where() returning `value`.
bool BuildProbeLibrary(const fs::path& dir, const fs::path& output, int value) {
    const fs::path source = dir / ("probe" + std::to_string(value) + ".c");
    if (!WriteFile(source, "int velkor_probe_where(void) { return " + std::to_string(value) + "; }\n"))
        return false;
    const std::string command =
        "cc -shared -fPIC -o '" + output.string() + "' '" + source.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

int ProbeValue(void* library) {
    auto where = reinterpret_cast<int (*)()>(plat::FindSymbol(library, "velkor_probe_where"));
    return where ? where() : -1;
}

bool HaveCompiler() { return std::system("command -v cc >/dev/null 2>&1") == 0; }

// Starts this test program again running only PlatChildMode.Run in `mode`, which
// writes its findings to `out`.
uint32_t StartChild(const std::string& mode, const fs::path& out, std::vector<std::string> extra = {},
                    const char* argument = nullptr) {
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD", mode.c_str());
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD_OUT", out.c_str());
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD_ARG", argument);
    std::vector<std::string> arguments = {"--gtest_filter=PlatChildMode.Run"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const uint32_t pid = plat::StartSelf(arguments);
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD", nullptr);
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD_OUT", nullptr);
    plat::SetEnvironment("VELKOR_PLATFORM_CHILD_ARG", nullptr);
    return pid;
}

int WaitStatus(uint32_t pid) {
    int status = 0;
    while (waitpid(pid_t(pid), &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

// The other half of the tests that start this program again; skipped in a
// normal run.
TEST(PlatChildMode, Run) {
    const char* mode = std::getenv("VELKOR_PLATFORM_CHILD");
    const char* out = std::getenv("VELKOR_PLATFORM_CHILD_OUT");
    if (!mode || !out) GTEST_SKIP() << "only runs as a child of the process tests";
    const std::string m = mode;
    if (m == "arguments") {
        std::string text;
        for (const std::string& argument : plat::CommandLineArguments()) text += "<" + argument + ">";
        WriteFile(out, text);
    } else if (m == "library") {
        void* library = plat::OpenLibrary(std::getenv("VELKOR_PLATFORM_CHILD_ARG"));
        WriteFile(out, library ? std::to_string(ProbeValue(library)) : "null " + plat::LastErrorText());
    } else if (m == "sleep") {
        WriteFile(out, "started");
        std::this_thread::sleep_for(std::chrono::seconds(60));
    } else if (m == "exit") {
        std::FILE* file = std::fopen(out, "w");
        static std::FILE* s_file = file;
        std::atexit([] { std::fputs(" exit-handler", s_file); });
        std::fputs("buffered", file); // still in the stream's buffer
        plat::ExitProcess(7);
    }
}

TEST(PlatLibrary, BareNamePrefersTheCopyNextToTheProgram) {
    if (!HaveCompiler()) GTEST_SKIP() << "no C compiler to build the probe libraries";
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string name = "libvelkorprobe" + std::to_string(getpid()) + ".so";
    const fs::path nextToProgram = plat::ExecutablePath().parent_path() / name;
    fs::create_directory(dir.path() / "system");
    ASSERT_TRUE(BuildProbeLibrary(dir.path(), nextToProgram, 1));
    ASSERT_TRUE(BuildProbeLibrary(dir.path(), dir.path() / "system" / name, 2));
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ec;
            fs::remove(path, ec);
        }
    } removeCopy{nextToProgram};

    // In this process: the bare name finds the program's copy.
    void* bare = plat::OpenLibrary(name);
    ASSERT_NE(bare, nullptr) << plat::LastErrorText();
    EXPECT_EQ(ProbeValue(bare), 1);
    plat::CloseLibrary(bare);

    // A path with a folder is taken as it is, although a copy sits next to the program.
    void* withFolder = plat::OpenLibrary(dir.path() / "system" / name);
    ASSERT_NE(withFolder, nullptr);
    EXPECT_EQ(ProbeValue(withFolder), 2);
    plat::CloseLibrary(withFolder);
    EXPECT_EQ(plat::OpenLibrary(dir.path() / "elsewhere" / name), nullptr);
    EXPECT_NE(plat::LastErrorText().find(name), std::string::npos);
    EXPECT_EQ(plat::OpenLibrary(fs::path("elsewhere") / name), nullptr);
    plat::LastErrorText();

    // A child whose system search path also has the library still takes the
    // program's copy, and the system's once that copy is gone.
    const fs::path out = dir.path() / "child.txt";
    plat::SetEnvironment("LD_LIBRARY_PATH", (dir.path() / "system").c_str());
    uint32_t pid = StartChild("library", out, {}, name.c_str());
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(WEXITSTATUS(WaitStatus(pid)), 0);
    EXPECT_EQ(ReadFile(out), "1");

    fs::remove(nextToProgram);
    pid = StartChild("library", out, {}, name.c_str());
    ASSERT_NE(pid, 0u);
    WaitStatus(pid);
    plat::SetEnvironment("LD_LIBRARY_PATH", nullptr);
    EXPECT_EQ(ReadFile(out), "2");

    // Without either copy the loader's reason comes back.
    void* none = plat::OpenLibrary(name);
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(plat::LastErrorText().find(name), std::string::npos);
}

TEST(PlatLibrary, SystemLibraryAndSymbols) {
    void* libm = plat::OpenLibrary("libm.so.6");
    ASSERT_NE(libm, nullptr) << plat::LastErrorText();
    auto cosine = reinterpret_cast<double (*)(double)>(plat::FindSymbol(libm, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(plat::FindSymbol(libm, "velkor_no_such_symbol"), nullptr);
    EXPECT_EQ(plat::FindSymbol(nullptr, "cos"), nullptr);
    plat::CloseLibrary(libm);
    plat::CloseLibrary(nullptr);
    EXPECT_EQ(plat::LibraryFileVersion("libm.so.6"), "");
}

TEST(PlatLibrary, LastErrorTextIsReportedOnceThenErrno) {
    EXPECT_EQ(plat::OpenLibrary("/nonexistent-velkor/libnothing.so"), nullptr);
    const std::string first = plat::LastErrorText();
    EXPECT_NE(first.find("libnothing.so"), std::string::npos) << first;
    errno = EACCES;
    EXPECT_EQ(plat::LastErrorText(), std::strerror(EACCES));

    // The text belongs to the thread that failed.
    std::thread other([] { plat::OpenLibrary("/nonexistent-velkor/libother.so"); });
    other.join();
    errno = ENOENT;
    EXPECT_EQ(plat::LastErrorText(), std::strerror(ENOENT));
}

TEST(PlatProcess, ExecutablePathAndId) {
    const fs::path exe = plat::ExecutablePath();
    ASSERT_TRUE(exe.is_absolute()) << exe;
    EXPECT_EQ(exe.filename(), "platform_process_test");
    EXPECT_TRUE(fs::equivalent(exe, fs::path(VELKOR_BUILD_DIR) / "platform_process_test"));
    EXPECT_EQ(plat::CurrentProcessId(), uint32_t(getpid()));
    EXPECT_TRUE(plat::DisablePowerThrottling());
}

TEST(PlatProcess, StartSelfPassesTheArgumentsAsGiven) {
    TempDir dir;
    const fs::path out = dir.path() / "arguments.txt";
    const uint32_t pid = StartChild("arguments", out, {"", "two words", "it's \"quoted\"", "ação", "--game"});
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(plat::WaitForProcessExit(pid, 60000));
    EXPECT_EQ(ReadFile(out), "<--gtest_filter=PlatChildMode.Run><><two words><it's \"quoted\"><ação><--game>");
}

TEST(PlatProcess, WaitForProcessExit) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(plat::WaitForProcessExit(0, UINT32_MAX));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // The first process of this namespace is running (and, for a user other
    // than root, not ours to signal).
    EXPECT_FALSE(plat::WaitForProcessExit(1, 30));

    TempDir dir;
    const fs::path out = dir.path() / "sleep.txt";
    const uint32_t pid = StartChild("sleep", out);
    ASSERT_NE(pid, 0u);
    EXPECT_FALSE(plat::WaitForProcessExit(pid, 50));
    ASSERT_EQ(kill(pid_t(pid), SIGKILL), 0);
    EXPECT_TRUE(plat::WaitForProcessExit(pid, 60000));
}

TEST(PlatProcess, ExitProcessFlushesStreamsAndSkipsExitHandlers) {
    TempDir dir;
    const fs::path out = dir.path() / "exit.txt";
    const uint32_t pid = StartChild("exit", out);
    ASSERT_NE(pid, 0u);
    const int status = WaitStatus(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(ReadFile(out), "buffered");
}

TEST(PlatEnvironment, SetOverwriteAndRemove) {
    const char* name = "VELKOR_PLATFORM_TEST_VARIABLE";
    plat::SetEnvironment(name, "first");
    ASSERT_NE(std::getenv(name), nullptr);
    EXPECT_STREQ(std::getenv(name), "first");
    plat::SetEnvironment(name, "second value");
    EXPECT_STREQ(std::getenv(name), "second value");
    plat::SetEnvironment(name, "");
    ASSERT_NE(std::getenv(name), nullptr);
    EXPECT_STREQ(std::getenv(name), "");
    plat::SetEnvironment(name, nullptr);
    EXPECT_EQ(std::getenv(name), nullptr);
    plat::SetEnvironment(name, nullptr); // removing an absent variable is harmless
    EXPECT_EQ(std::getenv(name), nullptr);
}

TEST(PlatEnvironment, CompareNoCase) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"default.XEX", "DEFAULT.xex", 0}, {"", "", 0},       {"abc", "abd", -1}, {"Zeta", "alpha", 1},
        {"abc", "ABCD", -1},               {"ABCD", "abc", 1}, {"a_b", "A_B", 0},  {"ç", "ç", 0},
        {nullptr, "", 0},                  {"a", nullptr, 1},
    };
    for (const Case& c : cases) {
        const int result = plat::CompareNoCase(c.a, c.b);
        const int sign = result < 0 ? -1 : result > 0 ? 1 : 0;
        EXPECT_EQ(sign, c.sign) << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
    }
}

TEST(PlatDisplay, DesktopDisplayModeOffscreen) {
    plat::SetEnvironment("SDL_VIDEO_DRIVER", "offscreen");
    for (int round = 0; round < 2; ++round) {
        int width = -7, height = -7, refresh = -7;
        if (plat::DesktopDisplayMode(width, height, refresh)) {
            EXPECT_GT(width, 0);
            EXPECT_GT(height, 0);
            EXPECT_GE(refresh, 0);
        } else {
            EXPECT_EQ(width, -7);
            EXPECT_EQ(height, -7);
            EXPECT_EQ(refresh, -7);
        }
    }
    plat::SetEnvironment("SDL_VIDEO_DRIVER", nullptr);
}
