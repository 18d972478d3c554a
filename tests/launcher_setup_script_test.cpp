// The setup-script runner: argument splitting, the "@@" line protocol, the
// interpreter search, process start, and whole runs of the stand-in script
// (tools/setup.py) through the reader thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/setup_script.h"
#include "runtime/platform/text.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/temporary_home.h"

namespace fs = std::filesystem;
using payload_fixture::TempDir;

namespace {

const fs::path SETUP_SCRIPT = fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Puts every field a run touches back to its default.
void ResetRun() {
    if (g_inst.reader.joinable()) g_inst.reader.join();
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.phase = Phase::Setup;
    g_inst.toolchain = "bundled";
    g_inst.toolchainChosen = false;
    g_inst.checking = false;
    g_inst.checked = false;
    g_inst.prereqs.clear();
    g_inst.packages.clear();
    g_inst.log.clear();
    g_inst.step = 0;
    g_inst.stepDetail.clear();
    g_inst.progress = -1.0f;
    g_inst.download.clear();
    g_inst.error.clear();
    g_inst.hint.clear();
    g_inst.finishedDir.clear();
    g_inst.gameReady = false;
    g_inst.processDone = false;
    g_inst.exitCode = 0;
    g_inst.process = 0;
    g_inst.cancelled = false;
    if (g_inst.logFile) std::fclose(g_inst.logFile);
    g_inst.logFile = nullptr;
}

// Runs UpdateInstaller until the started process has been taken in.
void FinishRun() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        UpdateInstaller();
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            if (g_inst.process == 0) return;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the setup process did not end";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Waits until the reader has handled the step line `step`.
void WaitForStep(int step) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            if (g_inst.step == step) return;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "no step " << step;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// HOME and the XDG folders point into a temporary folder for the whole run.
::testing::Environment* const g_home = ::testing::AddGlobalTestEnvironment(new testsupport::TemporaryHome);

class SetupRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        ResetRun();
        g_values.language = "english";
        g_inst.bundle = true;
        g_inst.installDir = tmp.path() / "My Games" / "Velkor";
        fs::create_directories(SetupScript().parent_path());
        fs::create_symlink(SETUP_SCRIPT, SetupScript());
        python = FindPython();
        ASSERT_FALSE(python.empty()) << "python3 is needed on PATH";
        g_inst.python = python;
    }
    void TearDown() override {
        CancelInstall();
        ResetRun();
        unsetenv("VELKOR_STANDIN_SCRIPT");
        unsetenv("VELKOR_STANDIN_RECORD");
        g_inst.bundle = false;
        g_inst.installDir.clear();
        g_inst.python.clear();
    }
    // Starts an installation run of the stand-in with `scenario`.
    void Start(const char* scenario, const std::wstring& args = L"") {
        setenv("VELKOR_STANDIN_SCRIPT", scenario, 1);
        g_inst.phase = Phase::Running;
        ASSERT_TRUE(StartSetup(args, false));
    }
    TempDir tmp{"setup"};
    std::wstring python;
};

} // namespace

TEST(SetupArgs, SplitArgs) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"   ", {}},
        {"--check", {"--check"}},
        {"a  b   c", {"a", "b", "c"}},
        {"--game \"/home/u/my game\" --subtitles", {"--game", "/home/u/my game", "--subtitles"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"x\"y z\"w", {"xy zw"}},
        {"\"unclosed quote", {"unclosed quote"}},
        {" --toolchain msvc", {"--toolchain", "msvc"}},
        // Escapes inside quotes keep quotes and backslashes of folder names.
        {"--game \"/g/say \\\"hi\\\"\" x", {"--game", "/g/say \"hi\"", "x"}},
        {"\"/g/ends\\\\\" y", {"/g/ends\\", "y"}},
        {"\"a\\b\"", {"a\\b"}},
        {"C:\\dir\\ z", {"C:\\dir\\", "z"}},
    };
    for (const auto& [line, items] : cases) EXPECT_EQ(SplitArgs(line), items) << line;
}

TEST(SetupArgs, ToolchainArgOnlyWhenChosen) {
    g_inst.toolchain = "msvc";
    g_inst.toolchainChosen = false;
    EXPECT_EQ(ToolchainArg(), L"");
    g_inst.toolchainChosen = true;
    EXPECT_EQ(ToolchainArg(), L" --toolchain msvc");
    g_inst.toolchain = "bundled";
    g_inst.toolchainChosen = false;
}

TEST(SetupProtocol, LinesChangeTheState) {
    struct Expect {
        int step = 0;
        std::string stepDetail;
        float progress = -1.0f;
        std::string download;
        std::string error, hint, finishedDir;
        bool gameReady = false;
        std::vector<std::string> log;
        std::string toolchain = "bundled";
    };
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        Expect expect;
        bool toolchainChosen = false;
    };
    auto with = [](auto f) {
        Expect e;
        f(e);
        return e;
    };
    const std::vector<Case> cases = {
        {"plain lines are the visible log", {"hello", "world\r"},
         with([](Expect& e) { e.log = {"hello", "world\r"}; })},
        {"step with a detail", {"@@progress 0.5", "@@step 3 | a | b"},
         with([](Expect& e) { e.step = 3, e.stepDetail = "a | b"; })},
        {"step without a detail", {"@@step 12"}, with([](Expect& e) { e.step = 12; })},
        {"progress clears the download", {"@@download x 1 2", "@@progress 0.75"},
         with([](Expect& e) { e.progress = 0.75f; })},
        {"download with spaces in the label", {"@@download game data pack 52428800 104857600"},
         with([](Expect& e) { e.progress = 0.5f, e.download = "game data pack  50 / 100 MB"; })},
        {"download of unknown size changes nothing", {"@@progress 0.25", "@@download x 5 0"},
         with([](Expect& e) { e.progress = 0.25f; })},
        {"error, hint, game ready, finished",
         {"@@error it broke", "@@hint try again", "@@game-ready /g/play dir", "@@finished /g/final"},
         with([](Expect& e) {
             e.error = "it broke", e.hint = "try again", e.gameReady = true, e.finishedDir = "/g/final";
         })},
        {"unknown markers are dropped", {"@@nothing here", "@@", "@@step"}, Expect{}},
        {"toolchain from the script", {"@@toolchain msvc"}, with([](Expect& e) { e.toolchain = "msvc"; })},
        {"toolchain chosen by the user wins", {"@@toolchain msvc"}, Expect{}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRun();
        g_inst.toolchainChosen = c.toolchainChosen;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            for (const std::string& line : c.lines) HandleLine(line);
        }
        EXPECT_EQ(g_inst.step, c.expect.step);
        EXPECT_EQ(g_inst.stepDetail, c.expect.stepDetail);
        EXPECT_FLOAT_EQ(g_inst.progress, c.expect.progress);
        EXPECT_EQ(g_inst.download, c.expect.download);
        EXPECT_EQ(g_inst.error, c.expect.error);
        EXPECT_EQ(g_inst.hint, c.expect.hint);
        EXPECT_EQ(g_inst.finishedDir, c.expect.finishedDir);
        EXPECT_EQ(g_inst.gameReady, c.expect.gameReady);
        EXPECT_EQ(g_inst.log, c.expect.log);
        EXPECT_EQ(g_inst.toolchain, c.expect.toolchain);
    }
    ResetRun();
}

TEST(SetupProtocol, PrerequisiteLines) {
    ResetRun();
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        HandleLine("@@prereq ok Python 3.11+ | /usr/bin/python3");
        HandleLine("@@prereq okay cmake");
        HandleLine("@@prereq OK git | /usr/bin/git");
        HandleLine("@@prereq missing clang");
        HandleLine("@@pypkg missing numpy>=1.26");
        HandleLine("@@pypkg ok tomli");
    }
    ASSERT_EQ(g_inst.prereqs.size(), 4u);
    const std::vector<std::tuple<bool, std::string, std::string>> tools = {
        {true, "Python 3.11+", "/usr/bin/python3"}, {true, "cmake", ""}, {false, "git", "/usr/bin/git"},
        {false, "clang", ""}};
    for (size_t i = 0; i < tools.size(); ++i) {
        EXPECT_EQ(g_inst.prereqs[i].ok, std::get<0>(tools[i])) << i;
        EXPECT_EQ(g_inst.prereqs[i].name, std::get<1>(tools[i])) << i;
        EXPECT_EQ(g_inst.prereqs[i].path, std::get<2>(tools[i])) << i;
    }
    ASSERT_EQ(g_inst.packages.size(), 2u);
    EXPECT_FALSE(g_inst.packages[0].ok);
    EXPECT_EQ(g_inst.packages[0].name, "numpy>=1.26");
    EXPECT_TRUE(g_inst.packages[1].ok);
    EXPECT_TRUE(g_inst.log.empty());
    ResetRun();
}

TEST(SetupPython, FindPythonWalksPath) {
    TempDir tmp;
    const fs::path noExec = tmp.path() / "noexec", good = tmp.path() / "good", cwd = tmp.path() / "cwd";
    for (const fs::path& d : {noExec, good, cwd}) {
        fs::create_directories(d);
        std::ofstream(d / "python3") << "#!/bin/sh\n";
    }
    fs::permissions(good / "python3", fs::perms(0755));
    fs::permissions(cwd / "python3", fs::perms(0755));
    fs::permissions(noExec / "python3", fs::perms(0644));

    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    const fs::path savedCwd = fs::current_path();
    fs::current_path(cwd);
    const std::string missing = (tmp.path() / "missing").string();
    const std::vector<std::pair<std::string, std::wstring>> cases = {
        {missing + ":" + good.string(), plat::WidenUtf8((good / "python3").string())},
        {missing, L""},
        // A candidate without any execute bit is passed over (even for root).
        {noExec.string() + ":" + good.string(), plat::WidenUtf8((good / "python3").string())},
        // An empty element names the working folder, unchanged.
        {":" + good.string(), L"python3"},
    };
    for (const auto& [path, expected] : cases) {
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(FindPython(), expected) << path;
    }
    unsetenv("PATH");
    const std::wstring fallback = FindPython();
    EXPECT_TRUE(fallback.empty() || fallback == L"/usr/bin/python3" || fallback == L"/bin/python3");
    if (access("/usr/bin/python3", X_OK) == 0) {
        EXPECT_EQ(fallback, L"/usr/bin/python3");
    }
    setenv("PATH", savedPath.c_str(), 1);
    fs::current_path(savedCwd);
}

TEST(SetupSpawn, NewGroupWorkingFolderAndFailures) {
    TempDir tmp;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = Spawn("/bin/sh", {"-c", "echo $$ $(ps -o pgid= -p $$) $(pwd)"}, tmp.path(), fds[1], true);
    close(fds[1]);
    ASSERT_NE(pid, 0);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::istringstream words(out);
    pid_t self = 0, group = 0;
    std::string cwd;
    words >> self >> group >> cwd;
    EXPECT_EQ(self, pid);
    EXPECT_EQ(group, pid);
    EXPECT_EQ(fs::path(cwd), fs::canonical(tmp.path()));

    // A working folder that does not exist, and a program that does not exist: 127.
    for (const auto& [exe, cwdPath] : {std::pair<fs::path, fs::path>{"/bin/true", tmp.path() / "missing"},
                                       std::pair<fs::path, fs::path>{tmp.path() / "no-such-program", ""}}) {
        const pid_t child = Spawn(exe, {}, cwdPath, -1, false);
        ASSERT_NE(child, 0);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 127);
    }
}

TEST_F(SetupRunTest, EveryMarkerOfARunArrives) {
    Start("ok");
    FinishRun();
    EXPECT_EQ(g_inst.phase, Phase::Done);
    EXPECT_EQ(g_inst.exitCode, 0);
    EXPECT_EQ(g_inst.error, "");
    EXPECT_EQ(g_inst.step, 8);
    EXPECT_EQ(g_inst.stepDetail, "");
    EXPECT_FLOAT_EQ(g_inst.progress, -1.0f);
    EXPECT_EQ(g_inst.hint, "keep the window open");
    EXPECT_TRUE(g_inst.gameReady);
    EXPECT_EQ(g_inst.finishedDir, "/games/velkor final");
    EXPECT_EQ(g_inst.log, (std::vector<std::string>{"preparing", "done"}));
    EXPECT_EQ(g_inst.logFile, nullptr);
    // setup.log holds every line, the unknown marker included.
    const std::string log = ReadText(SetupLog());
    EXPECT_NE(log.find("@@unknown marker\n"), std::string::npos);
    EXPECT_NE(log.find("@@download game data 52428800 104857600\n"), std::string::npos);
    EXPECT_EQ(log.rfind("done\n"), log.size() - 5);
    EXPECT_EQ(g_inst.selected, 2);
}

TEST_F(SetupRunTest, OutputInPiecesIsReassembled) {
    Start("pieces");
    FinishRun();
    EXPECT_EQ(g_inst.phase, Phase::Done);
    EXPECT_EQ(g_inst.step, 4);
    EXPECT_EQ(g_inst.stepDetail, "libraries");
    EXPECT_EQ(g_inst.log, (std::vector<std::string>{"first\rhalf", "no line feed at the end"}));
}

TEST_F(SetupRunTest, CommandLineEnvironmentAndFolder) {
    const fs::path record = tmp.path() / "record.json";
    setenv("VELKOR_STANDIN_RECORD", record.c_str(), 1);
    setenv("PYTHONHOME", "/nowhere", 1);
    setenv("PYTHONPATH", "/nowhere", 1);
    setenv("PYTHONUTF8", "0", 1);
    Start("args", L"--game \"/data/my game\" \"\" --copy-game --toolchain msvc");
    FinishRun();
    EXPECT_EQ(g_inst.log, (std::vector<std::string>{"arg[0]=--game", "arg[1]=/data/my game", "arg[2]=",
                                                    "arg[3]=--copy-game", "arg[4]=--toolchain", "arg[5]=msvc"}));
    const std::string json = ReadText(record);
    EXPECT_NE(json.find("\"cwd\": \"" + fs::canonical(Root()).string() + "\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"PYTHONUTF8\": \"1\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"PYTHONIOENCODING\": \"utf-8\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"PYTHONDONTWRITEBYTECODE\": \"1\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"PYTHONHOME\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"PYTHONPATH\": null"), std::string::npos) << json;
}

TEST_F(SetupRunTest, HowARunEnds) {
    struct Case {
        const char* scenario;
        bool cancel;
        const char* language;
        int exitCode;
        const char* error;
    };
    const Case cases[] = {
        {"fail", false, "english", 1, "setup.py failed (see the log)."},
        {"fail", false, "pt-br", 1, "o setup.py falhou (veja o log)."},
        {"error", false, "english", 3, "The recompiler ran out of memory."},
        {"killed", false, "english", 137, "setup.py failed (see the log)."},
        {"hang", true, "english", 143, "Stopped."},
        {"hang", true, "pt-br", 143, "Interrompido."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + " " + c.language);
        ResetRun();
        g_values.language = c.language;
        Start(c.scenario);
        if (c.cancel) {
            WaitForStep(6);
            CancelInstall();
        }
        FinishRun();
        EXPECT_EQ(g_inst.exitCode, c.exitCode);
        EXPECT_EQ(g_inst.phase, Phase::Failed);
        EXPECT_EQ(g_inst.error, c.error);
        EXPECT_EQ(g_inst.cancelled, c.cancel);
    }
}

TEST_F(SetupRunTest, AnInterpreterThatCannotRunFailsTheRun) {
    g_inst.python = plat::WidenUtf8((tmp.path() / "no-python").string());
    Start("ok");
    FinishRun();
    EXPECT_EQ(g_inst.exitCode, 127);
    EXPECT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(g_inst.error, "setup.py failed (see the log).");
}

TEST_F(SetupRunTest, ACheckFillsThePrerequisites) {
    setenv("VELKOR_STANDIN_SCRIPT", "check", 1);
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs = {Prereq{"stale", "", false}};
        g_inst.log = {"kept"};
    }
    g_inst.checking = StartSetup(L"--check" + ToolchainArg(), true);
    ASSERT_TRUE(g_inst.checking);
    FinishRun();
    EXPECT_FALSE(g_inst.checking);
    EXPECT_TRUE(g_inst.checked);
    EXPECT_EQ(g_inst.phase, Phase::Setup);
    ASSERT_EQ(g_inst.prereqs.size(), 3u);
    EXPECT_EQ(g_inst.prereqs[0].name, "Python 3.11+");
    EXPECT_TRUE(g_inst.prereqs[0].ok);
    ASSERT_EQ(g_inst.packages.size(), 1u);
    EXPECT_EQ(g_inst.packages[0].name, "tomli>=2.0");
    EXPECT_EQ(g_inst.log, std::vector<std::string>{"kept"});
    EXPECT_FALSE(fs::exists(SetupLog()));
}
