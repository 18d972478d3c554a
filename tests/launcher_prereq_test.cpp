// The prerequisite check of the mode without a payload, with the stand-in
// setup script (tools/setup.py) in a release folder of its own: this program
// runs again from that folder (PrereqInApp), because the installer takes the
// setup script and the toolchain from beside its own executable.
#include <gtest/gtest.h>

#include <unistd.h>

#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/prereq.h"
#include "launcher/setup_script.h"
#include "runtime/paths.h"
#include "tests/support/flow_support.h"
#include "tests/support/payload_fixture.h"

namespace fs = std::filesystem;
using flow_support::EnvGuard;
using flow_support::ReadText;
using flow_support::WriteText;
using payload_fixture::TempDir;

namespace {

const fs::path SETUP_SCRIPT = fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py";

fs::path RealPython() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3", "/bin/python3"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

void SetLists(std::vector<Prereq> prereqs, std::vector<Prereq> packages) {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.prereqs = std::move(prereqs);
    g_inst.packages = std::move(packages);
}

TEST(Prereq, MissingCountAndPackages) {
    SetLists({{"git", "/usr/bin/git", true}, {"clang", "", false}, {"cmake", "", false}},
             {{"numpy>=1.26", "", false}, {"tomli>=2.0", "", true}, {"pillow", "", false},
              {"a>=1>=2", "", false}});
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        EXPECT_EQ(MissingCount(), 2);
        EXPECT_EQ(MissingPackages(), "numpy, pillow, a");
    }
    SetLists({{"git", "", true}}, {{"tomli>=2.0", "", true}});
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        EXPECT_EQ(MissingCount(), 0);
        EXPECT_EQ(MissingPackages(), "");
    }
    SetLists({}, {});
}

TEST(Prereq, InstallMissingTellsTheCommand) {
    ClearInstallerUiState();
    g_values.language = "english";
    InstallMissing();
    EXPECT_EQ(LastMessage(0), "Run in a terminal, then CHECK AGAIN:");
    EXPECT_EQ(LastMessage(1), "python3 tools/toolchain.py fetch");
    g_values.language = "pt-br";
    InstallMissing();
    EXPECT_EQ(LastMessage(0), "Rode num terminal e depois VERIFICAR DE NOVO:");
    EXPECT_EQ(LastMessage(1), "python3 tools/toolchain.py fetch");
    g_values.language = "english";
    ClearInstallerUiState();
}

TEST(Prereq, SingleFileModeNeedsNoCheck) {
    g_inst.bundle = true;
    g_inst.checked = false;
    SetLists({{"old", "", false}}, {});
    CheckPrerequisites();
    EXPECT_TRUE(g_inst.checked);
    EXPECT_FALSE(g_inst.checking);
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        EXPECT_TRUE(g_inst.prereqs.empty());
        EXPECT_EQ(g_inst.process, 0);
    }
    g_inst.bundle = false;
    g_inst.checked = false;
}

TEST(Prereq, InAReleaseFolder) {
    const fs::path python = RealPython();
    ASSERT_FALSE(python.empty()) << "no python3 for the stand-in setup script";
    TempDir tmp("velkor-prereq");
    EnvGuard env{"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    setenv("HOME", (tmp.path() / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmp.path() / "home" / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (tmp.path() / "home" / ".local" / "share").c_str(), 1);
    const fs::path app = tmp.path() / "release folder";
    fs::create_directories(app / "tools");
    fs::copy_file(SETUP_SCRIPT, app / "tools" / "setup.py");
    std::string output;
    const int status = flow_support::RunInApp(app, "PrereqInApp.*", output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find("[  SKIPPED ]"), std::string::npos) << output;
    EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
}

// --- Run inside the release folder -------------------------------------------

class PrereqInApp : public ::testing::Test {
protected:
    void SetUp() override {
        const char* appVariable = std::getenv(flow_support::APP_VARIABLE);
        if (!appVariable) GTEST_SKIP() << "runs inside its release folder (Prereq.InAReleaseFolder)";
        app = appVariable;
        std::string self = (app / fs::read_symlink("/proc/self/exe").filename()).string();
        char* argv[] = {self.data(), nullptr};
        ASSERT_TRUE(paths::Init(1, argv, false));
        ASSERT_EQ(paths::ExeDir(), app);

        python = RealPython();
        pathDir = app.parent_path() / "path";
        fs::create_directories(pathDir);
        std::error_code ec;
        fs::create_symlink(python, pathDir / "python3", ec);
        setenv("PATH", pathDir.c_str(), 1);
        record = app.parent_path() / "record.json";
        setenv("VELKOR_STANDIN_RECORD", record.c_str(), 1);
        unsetenv("VELKOR_STANDIN_SCRIPT");
        unsetenv("VELKOR_STANDIN_PLAN");

        g_inst.bundle = false;
        g_inst.checked = g_inst.checking = false;
        g_inst.toolchain = "bundled";
        g_inst.toolchainChosen = false;
        g_inst.python.clear();
        g_inst.extract.cancel.store(false);
        SetLists({}, {});
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.dump = DumpProblem();
        ClearInstallerUiState();
    }

    void TearDown() override {
        if (g_inst.checking) {
            CancelInstall();
            WaitForCheck();
        }
        if (g_inst.reader.joinable()) g_inst.reader.join();
        g_inst.extract.cancel.store(false);
        std::error_code ec;
        fs::remove_all(app / "toolchain", ec);
    }

    // The running check to its end, as the frame loop sees it.
    bool WaitForCheck() {
        return flow_support::PollUntil([] { UpdateInstaller(); }, [] { return !g_inst.checking; });
    }

    void Plan(const std::string& json) {
        const fs::path plan = app.parent_path() / "plan.json";
        WriteText(plan, json);
        setenv("VELKOR_STANDIN_PLAN", plan.c_str(), 1);
    }

    // The arguments the stand-in script received (after its own path).
    std::string RecordedArgs() {
        const std::string text = ReadText(record);
        const size_t start = text.find("\"argv\": ");
        const size_t end = text.find(']', start);
        return start == std::string::npos ? text : text.substr(start + 8, end - start - 7);
    }

    fs::path app, python, pathDir, record;
};

TEST_F(PrereqInApp, NoInterpreterMeansPythonIsMissing) {
    fs::remove(pathDir / "python3");
    CheckPrerequisites();
    EXPECT_TRUE(g_inst.python.empty());
    EXPECT_TRUE(g_inst.checked);
    EXPECT_FALSE(g_inst.checking);
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        ASSERT_EQ(g_inst.prereqs.size(), 1u);
        EXPECT_EQ(g_inst.prereqs[0].name, "Python 3.11+");
        EXPECT_EQ(g_inst.prereqs[0].path, "");
        EXPECT_FALSE(g_inst.prereqs[0].ok);
        EXPECT_EQ(MissingCount(), 1);
    }
    EXPECT_FALSE(CanInstall());
}

TEST_F(PrereqInApp, NoScriptMeansTheScriptIsMissing) {
    const fs::path script = app / "tools" / "setup.py";
    const fs::path aside = app / "tools" / "setup.py.aside";
    fs::rename(script, aside);
    CheckPrerequisites();
    fs::rename(aside, script);
    EXPECT_EQ(fs::path(g_inst.python), pathDir / "python3");
    EXPECT_TRUE(g_inst.checked);
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    ASSERT_EQ(g_inst.prereqs.size(), 1u);
    EXPECT_EQ(g_inst.prereqs[0].name, "tools\\setup.py");
    EXPECT_FALSE(g_inst.prereqs[0].ok);
}

TEST_F(PrereqInApp, CheckResultsFillTheListsAndGateInstall) {
    // The toolchain's own interpreter is preferred over PATH.
    fs::create_directories(app / "toolchain" / "python" / "bin");
    fs::create_symlink(python, app / "toolchain" / "python" / "bin" / "python3");
    Plan(R"([{"line": "@@prereq ok Python 3.11+ | /usr/bin/python3"},
             {"line": "@@prereq missing clang"},
             {"line": "@@prereq ok cmake | /opt/cmake dir/bin/cmake | x"},
             {"line": "@@pypkg missing numpy>=1.26"},
             {"line": "@@pypkg ok tomli>=2.0"},
             {"line": "@@pypkg missing pillow"},
             {"exit": 1}])");
    CheckPrerequisites();
    EXPECT_EQ(fs::path(g_inst.python), BundledPython());
    EXPECT_TRUE(g_inst.checking);
    EXPECT_FALSE(g_inst.checked);
    EXPECT_FALSE(CanInstall());
    ASSERT_TRUE(WaitForCheck());
    EXPECT_TRUE(g_inst.checked); // whatever the exit status
    EXPECT_EQ(RecordedArgs(), "[\"--check\"]");
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        ASSERT_EQ(g_inst.prereqs.size(), 3u);
        EXPECT_EQ(g_inst.prereqs[0].name, "Python 3.11+");
        EXPECT_EQ(g_inst.prereqs[0].path, "/usr/bin/python3");
        EXPECT_EQ(g_inst.prereqs[1].name, "clang");
        EXPECT_FALSE(g_inst.prereqs[1].ok);
        EXPECT_EQ(g_inst.prereqs[2].path, "/opt/cmake dir/bin/cmake | x");
        ASSERT_EQ(g_inst.packages.size(), 3u);
        EXPECT_EQ(MissingCount(), 1);
        EXPECT_EQ(MissingPackages(), "numpy, pillow");
    }
    EXPECT_FALSE(CanInstall());

    // The row: something is missing, so the command is shown, and the check
    // runs again behind the message. Missing packages alone do not block.
    Plan(R"([{"line": "@@prereq ok clang | /usr/bin/clang"}, {"line": "@@pypkg missing numpy>=1.26"}])");
    PrereqsRowAction();
    EXPECT_EQ(LastMessage(0), "Run in a terminal, then CHECK AGAIN:");
    EXPECT_TRUE(g_inst.checking);
    EXPECT_FALSE(g_inst.checked);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_TRUE(CanInstall());

    // The row again: only a package is missing, still the message.
    ClearInstallerUiState();
    Plan(R"([{"line": "@@prereq ok clang | /usr/bin/clang"}])");
    PrereqsRowAction();
    EXPECT_EQ(LastMessage(0), "Run in a terminal, then CHECK AGAIN:");
    ASSERT_TRUE(WaitForCheck());

    // Nothing missing: the row only checks again, without a message.
    ClearInstallerUiState();
    PrereqsRowAction();
    EXPECT_EQ(LastMessage(0), "");
    EXPECT_TRUE(g_inst.checking);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_TRUE(CanInstall());

    // A check that prints nothing: all present.
    Plan(R"([{"exit": 3}])");
    CheckPrerequisites();
    ASSERT_TRUE(WaitForCheck());
    EXPECT_TRUE(CanInstall());

    // A dump that is not compatible keeps INSTALL off.
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.dump.en[0] = "The game files are incomplete.";
    }
    EXPECT_FALSE(CanInstall());
}

TEST_F(PrereqInApp, ToolchainRowSwitchesAndPassesTheChoice) {
    Plan(R"([{"line": "@@toolchain msvc"}])");
    CheckPrerequisites();
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(RecordedArgs(), "[\"--check\"]");
    EXPECT_EQ(g_inst.toolchain, "msvc"); // the script's own choice, while the user made none

    ToolchainRowAction();
    EXPECT_EQ(g_inst.toolchain, "bundled");
    EXPECT_TRUE(g_inst.toolchainChosen);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(RecordedArgs(), "[\"--check\", \"--toolchain\", \"bundled\"]");
    EXPECT_EQ(g_inst.toolchain, "bundled"); // the script no longer decides

    ToolchainRowAction();
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(g_inst.toolchain, "msvc");
    EXPECT_EQ(RecordedArgs(), "[\"--check\", \"--toolchain\", \"msvc\"]");

    ToolchainRowAction();
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(g_inst.toolchain, "bundled");
    EXPECT_TRUE(g_inst.toolchainChosen);
    EXPECT_EQ(RecordedArgs(), "[\"--check\", \"--toolchain\", \"bundled\"]");
}

TEST_F(PrereqInApp, RowsWaitForARunningCheck) {
    Plan(R"([{"line": "@@prereq missing clang"}, {"hang": true}])");
    CheckPrerequisites();
    ASSERT_TRUE(g_inst.checking);
    pid_t running;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        running = g_inst.process;
    }
    PrereqsRowAction();
    ToolchainRowAction();
    EXPECT_EQ(LastMessage(0), "");
    EXPECT_EQ(g_inst.toolchain, "bundled");
    EXPECT_FALSE(g_inst.toolchainChosen);
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        EXPECT_EQ(g_inst.process, running);
    }
    EXPECT_FALSE(CanInstall());
}

} // namespace
