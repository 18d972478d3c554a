// The installer lifecycle: language, command-line options, the visible log,
// whole single-file installations (extraction thread, then the stand-in setup
// script), cancellation and re-installation, shutdown and unattended mode.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/setup_script.h"
#include "launcher/sha256.h"
#include "runtime/platform/text.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/temporary_home.h"

namespace fs = std::filesystem;
using payload_fixture::Entry;
using payload_fixture::TempDir;

namespace {

using payload_fixture::AgeFiles;
using payload_fixture::Rewritten;

const fs::path SETUP_SCRIPT = fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py";
const auto LIMIT = std::chrono::seconds(60);

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::map<std::string, std::string> Digest(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (rel == PAYLOAD_INDEX) continue;
        if (it->is_symlink()) {
            tree[rel] = "link " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            tree[rel] = Sha256File(it->path());
        }
    }
    return tree;
}

void ResetRun() {
    if (g_inst.extractor.joinable()) g_inst.extractor.join();
    if (g_inst.reader.joinable()) g_inst.reader.join();
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.phase = Phase::Setup;
    g_inst.extracting = false;
    g_inst.extractFinished = false;
    g_inst.extractError.clear();
    g_inst.setupPending = false;
    g_inst.pendingArgs.clear();
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
    g_inst.selected = 0;
    g_inst.finalCode = 0;
    g_inst.autoStart = g_inst.autoFinish = false;
    g_inst.checked = g_inst.checking = false;
    g_inst.gpuKnown = false;
    g_inst.dump = DumpProblem{};
    if (g_inst.logFile) std::fclose(g_inst.logFile);
    g_inst.logFile = nullptr;
}

// Starts a single-file installation the way INSTALL does: the payload is
// copied into the install root on the extraction thread, stale files are
// removed, and the setup script waits in pendingArgs.
void StartExtractionRun(const std::string& args, const ComponentSet& skip) {
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.log.clear();
        g_inst.error.clear();
        g_inst.step = 0;
        g_inst.progress = 0.0f;
        g_inst.extracting = true;
        g_inst.extractFinished = false;
    }
    g_inst.pendingArgs = args;
    g_inst.extract.done = 0;
    g_inst.extract.total = 0;
    g_inst.extract.cancel = false;
    g_inst.phase = Phase::Running;
    g_inst.extractor = std::thread([skip] {
        std::string error = ExtractPayload(g_payload, Root(), skip, g_inst.extract);
        if (error.empty()) RemoveStaleFiles(skip);
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.extractError = error;
        g_inst.extractFinished = true;
    });
}

// Frames until the run has ended.
void RunFrames() {
    const auto limit = std::chrono::steady_clock::now() + LIMIT;
    while (g_inst.phase == Phase::Running) {
        UpdateInstaller();
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the run did not end";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Opens the write end of a FIFO once a copy worker has opened its read end.
int OpenWhenRead(const fs::path& fifo) {
    const auto limit = std::chrono::steady_clock::now() + LIMIT;
    for (;;) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, 0);
            return fd;
        }
        if (errno != ENXIO || std::chrono::steady_clock::now() > limit) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// HOME and the XDG folders point into a temporary folder for the whole run.
::testing::Environment* const g_home = ::testing::AddGlobalTestEnvironment(new testsupport::TemporaryHome);

class InstallRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        ResetRun();
        g_values.language = "english";
        const std::wstring python = FindPython();
        ASSERT_FALSE(python.empty()) << "python3 is needed on PATH";
        entries = payload_fixture::SampleEntries(SETUP_SCRIPT, fs::path(plat::NarrowUtf8(python)));
        for (int i = 0; i < 120; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "gen/part %03d.bin", i);
            entries.push_back({"base", name, payload_fixture::Bytes(100 + i, 20000 + 997 * i), "", {}, false});
        }
        ASSERT_EQ(payload_fixture::WritePayload(source(), "r7", entries), "");
        g_payload = Payload{};
        ASSERT_TRUE(ReadPayloadIndex(source(), g_payload));
        g_inst.bundle = true;
        g_inst.installDir = tmp.path() / "Games" / "Velkor of the Ombrax Lumenfall";
        setenv("VELKOR_STANDIN_SCRIPT", "ok", 1);
    }
    void TearDown() override {
        CancelInstall();
        ResetRun();
        unsetenv("VELKOR_STANDIN_SCRIPT");
        g_payload = Payload{};
        g_inst.bundle = false;
        g_inst.installDir.clear();
        g_inst.python.clear();
    }
    fs::path source() const { return tmp.path() / "payload"; }

    TempDir tmp{"install"};
    std::vector<Entry> entries;
};

} // namespace

TEST(InstallerLanguage, EnvironmentDecides) {
    const char* const names[] = {"VELKOR_SETUP_LANGUAGE", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    struct Case {
        std::vector<const char*> values; // in the order of `names`; nullptr: unset
        bool pt;
    };
    const Case cases[] = {
        {{nullptr, nullptr, nullptr, nullptr, nullptr}, false},
        {{"", "", "", "", ""}, false},
        {{nullptr, "pt_BR", nullptr, nullptr, "en_US.UTF-8"}, true},
        {{"en", nullptr, nullptr, nullptr, "pt_BR"}, false},
        {{"", "", "PT_br.UTF-8", "en_US", "en_US"}, true},
        {{nullptr, nullptr, nullptr, nullptr, "pt"}, true},
        {{nullptr, nullptr, nullptr, nullptr, "p"}, false},
        {{nullptr, "de_DE:pt_BR", "pt_BR", nullptr, nullptr}, false},
        {{nullptr, nullptr, "C", "pt_BR", nullptr}, false},
        {{nullptr, nullptr, nullptr, "Pt-PT", nullptr}, true},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (size_t i = 0; i < 5; ++i) {
            if (c.values[i]) {
                setenv(names[i], c.values[i], 1);
                trace += std::string(names[i]) + "=" + c.values[i] + " ";
            } else {
                unsetenv(names[i]);
            }
        }
        EXPECT_EQ(InstallerPt(), c.pt) << trace;
    }
    for (const char* name : names) unsetenv(name);

    // InitInstaller fixes the language of every text.
    setenv("LANG", "pt_BR.UTF-8", 1);
    InitInstaller();
    EXPECT_EQ(g_values.language, "pt-br");
    EXPECT_STREQ(InstallerText("Stopped.", "Interrompido."), "Interrompido.");
    unsetenv("LANG");
    InitInstaller();
    EXPECT_EQ(g_values.language, "english");
    EXPECT_STREQ(InstallerText("Stopped.", "Interrompido."), "Stopped.");
    // Without a game folder the verdict is a problem.
    EXPECT_FALSE(g_inst.dump.Ok());
    ShutdownInstaller(); // a prerequisite check may have started
}

TEST(InstallerLog, FourHundredLinesAtMost) {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.log.clear();
    for (int i = 1; i <= 400; ++i) AddLogLine("line " + std::to_string(i));
    ASSERT_EQ(g_inst.log.size(), 400u);
    EXPECT_EQ(g_inst.log.front(), "line 1");
    AddLogLine("line 401");
    ASSERT_EQ(g_inst.log.size(), 301u);
    EXPECT_EQ(g_inst.log.front(), "line 101");
    EXPECT_EQ(g_inst.log.back(), "line 401");
    g_inst.log.clear();
}

TEST(InstallerPrepare, PayloadAndFolderOptions) {
    TempDir tmp;
    ASSERT_EQ(payload_fixture::WritePayload(tmp.path() / "payload", "t1", {{"base", "a.txt", "a", "", {}, false}}), "");
    setenv("APPDIR", tmp.path().c_str(), 1);
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", tmp.path().c_str(), 1);
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = config ? config : "";
    setenv("XDG_CONFIG_HOME", (tmp.path() / "config").c_str(), 1);
    const fs::path cwd = fs::current_path();
    struct Case {
        std::vector<std::string> args;
        fs::path installDir, shots;
    };
    const Case cases[] = {
        {{"VelkorLauncher"}, tmp.path() / "Games" / "Velkor of the Ombrax Lumenfall", {}},
        {{"VelkorLauncher", "--install-dir", "rel/dir", "--shots", "/abs/shots"}, cwd / "rel/dir", "/abs/shots"},
        {{"VelkorLauncher", "--game", "/g", "--shots", "s", "--install-dir"},
         tmp.path() / "Games" / "Velkor of the Ombrax Lumenfall", cwd / "s"},
    };
    for (const Case& c : cases) {
        g_inst.installDir.clear();
        g_inst.shots.clear();
        PrepareInstaller(c.args);
        EXPECT_TRUE(g_inst.bundle);
        EXPECT_EQ(g_payload.tag, "t1");
        EXPECT_EQ(g_inst.installDir, c.installDir);
        EXPECT_EQ(g_inst.shots, c.shots);
    }
    unsetenv("APPDIR");
    setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    g_payload = Payload{};
    g_inst.bundle = false;
    g_inst.installDir.clear();
    g_inst.shots.clear();
}

TEST_F(InstallRunTest, ExtractionThenTheScriptToDone) {
    StartExtractionRun("--game \"/data/my game\" --copy-game", {"modding", "dlss"});
    RunFrames();
    EXPECT_EQ(g_inst.phase, Phase::Done);
    EXPECT_EQ(g_inst.error, "");
    EXPECT_EQ(g_inst.python, plat::WidenUtf8(BundledPython().string()));
    EXPECT_EQ(g_inst.log, (std::vector<std::string>{"Files extracted; building the game...", "preparing", "done"}));
    EXPECT_EQ(g_inst.step, 8);
    EXPECT_EQ(g_inst.hint, "keep the window open");
    EXPECT_TRUE(g_inst.gameReady);
    EXPECT_EQ(g_inst.finishedDir, "/games/velkor final");
    EXPECT_EQ(g_inst.selected, 2);
    EXPECT_EQ(g_inst.extract.done.load(), g_payload.Bytes({"modding", "dlss"}));
    EXPECT_EQ(ReadText(PlayDir() / VERSION_FILE), "r7\n");
    EXPECT_NE(ReadText(SetupLog()).find("@@finished /games/velkor final\n"), std::string::npos);
    EXPECT_NE(ReadText(PlayDir() / INSTALLED_FILES).find("tools/setup.py\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(Root() / "modding"));
    EXPECT_FALSE(fs::exists(Root() / "thirdparty"));
}

TEST_F(InstallRunTest, CancelDuringExtractionThenInstallAgain) {
    // Four entries in the middle of the payload are FIFOs: every copy worker
    // stops on one of them, so the cancel lands at a known point.
    const size_t first = entries.size() - 80;
    std::vector<std::pair<fs::path, std::string>> fifos;
    for (size_t i = first; i < first + 4; ++i) {
        const fs::path path = source() / entries[i].path;
        fifos.emplace_back(path, entries[i].content);
        fs::remove(path);
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    }
    const unsigned workers = ExtractWorkerCount(std::thread::hardware_concurrency());

    StartExtractionRun("", {});
    std::vector<int> fds;
    for (unsigned w = 0; w < workers; ++w) {
        fds.push_back(OpenWhenRead(fifos[w].first));
        ASSERT_GE(fds.back(), 0);
    }
    CancelInstall();
    // Each blocked worker gets half its file, so its target stays short.
    for (unsigned w = 0; w < workers; ++w) {
        const std::string& content = fifos[w].second;
        ASSERT_EQ(write(fds[w], content.data(), content.size() / 2), static_cast<ssize_t>(content.size() / 2));
        close(fds[w]);
    }
    RunFrames();
    EXPECT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(g_inst.error, "Stopped.");
    EXPECT_EQ(g_inst.process, 0);

    // The payload becomes whole again; the destination is partly there.
    for (const auto& [path, content] : fifos) {
        fs::remove(path);
        std::ofstream(path, std::ios::binary) << content;
    }
    std::set<std::string> incomplete;
    for (const PayloadFile& file : g_payload.files) {
        if (!file.link.empty()) continue;
        const fs::path target = Root() / plat::NarrowUtf8(file.path);
        std::error_code ec;
        if (fs::file_size(target, ec) != file.size || ec) incomplete.insert(plat::NarrowUtf8(file.path));
    }
    // The FIFOs and everything after them; all that came before is complete.
    EXPECT_EQ(incomplete.size(), 80u);
    for (unsigned w = 0; w < workers; ++w) {
        EXPECT_EQ(fs::file_size(Root() / entries[first + w].path), fifos[w].second.size() / 2);
    }

    AgeFiles(Root());
    g_inst.phase = Phase::Setup;
    StartExtractionRun("", {});
    RunFrames();
    EXPECT_EQ(g_inst.phase, Phase::Done) << g_inst.error;
    EXPECT_EQ(Rewritten(Root()), incomplete);
    EXPECT_EQ(Digest(Root()), Digest(source()));

    // Over an unchanged tree nothing is copied.
    AgeFiles(Root());
    g_inst.phase = Phase::Setup;
    StartExtractionRun("", {});
    RunFrames();
    EXPECT_EQ(g_inst.phase, Phase::Done) << g_inst.error;
    EXPECT_TRUE(Rewritten(Root()).empty());
    EXPECT_EQ(Digest(Root()), Digest(source()));
}

TEST_F(InstallRunTest, AFailedExtractionFailsTheRun) {
    fs::remove(source() / "data/big.bin");
    StartExtractionRun("", {});
    RunFrames();
    EXPECT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(g_inst.error, (Root() / "data/big.bin").string() + ": No such file or directory");
    EXPECT_FALSE(fs::exists(PlayDir() / VERSION_FILE));
}

TEST_F(InstallRunTest, ScriptFailureAfterTheGameIsReadyStillWritesTheVersion) {
    const fs::path plan = tmp.path() / "plan.json";
    std::ofstream(plan) << R"([{"line": "@@step 9"}, {"line": "@@game-ready /p"}, {"line": "@@error assets failed"},
                               {"exit": 2}])";
    setenv("VELKOR_STANDIN_PLAN", plan.c_str(), 1);
    StartExtractionRun("", {});
    RunFrames();
    unsetenv("VELKOR_STANDIN_PLAN");
    EXPECT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(g_inst.error, "assets failed");
    EXPECT_EQ(g_inst.selected, 0);
    EXPECT_EQ(ReadText(PlayDir() / VERSION_FILE), "r7\n");
}

TEST_F(InstallRunTest, ClosingTheWindowStopsARunningScript) {
    setenv("VELKOR_STANDIN_SCRIPT", "hang", 1);
    StartExtractionRun("", {});
    const auto limit = std::chrono::steady_clock::now() + LIMIT;
    for (;;) {
        UpdateInstaller();
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            if (g_inst.step == 6) break;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), limit);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool quit = false;
    InstallerExit(quit);
    EXPECT_TRUE(quit);
    ShutdownInstaller();
    EXPECT_FALSE(g_inst.reader.joinable());
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    EXPECT_TRUE(g_inst.processDone);
    EXPECT_TRUE(g_inst.cancelled);
    EXPECT_EQ(g_inst.exitCode, 143);
    EXPECT_EQ(g_inst.logFile, nullptr);
}

TEST(InstallerUnattended, Rules) {
    struct Case {
        const char* name;
        bool autoStart, autoFinish;
        Phase phase;
        bool checked, bundle, gpuKnown, messageOpen, shotPending;
        bool closeMessage, quit;
        int finalCode;
        bool autoStartAfter;
    };
    const Case cases[] = {
        {"interactive", false, false, Phase::Setup, true, false, false, false, false, false, false, 0, false},
        {"give up when INSTALL stays disabled", true, false, Phase::Setup, true, false, false, false, false, false,
         false, 0, false},
        {"wait for the check", true, false, Phase::Setup, false, false, false, false, false, false, false, 0, true},
        {"wait for the GPU decision", true, false, Phase::Setup, true, true, false, false, false, false, false, 0, true},
        {"message ends the run", false, true, Phase::Running, false, false, false, true, false, true, true, 1, false},
        {"finished", false, true, Phase::Done, true, false, false, false, false, false, true, 0, false},
        {"failed", false, true, Phase::Failed, true, false, false, false, false, false, true, 1, false},
        {"still running", false, true, Phase::Running, true, false, false, false, false, false, false, 0, false},
        {"screenshots pending", false, true, Phase::Done, true, false, false, false, true, false, false, 0, false},
        {"setup before the GPU decision", false, true, Phase::Setup, true, true, false, false, false, false, false, 0,
         false},
        {"setup after the GPU decision", false, true, Phase::Setup, true, true, true, false, false, false, true, 1,
         false},
        {"start gives up, then finish", true, true, Phase::Setup, true, false, true, false, false, false, true, 1,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRun();
        g_inst.dump.en[0] = "No game folder chosen."; // INSTALL is never possible here
        g_inst.autoStart = c.autoStart;
        g_inst.autoFinish = c.autoFinish;
        g_inst.phase = c.phase;
        g_inst.checked = c.checked;
        g_inst.bundle = c.bundle;
        g_inst.gpuKnown = c.gpuKnown;
        const UnattendedResult r = UpdateUnattended(c.messageOpen, c.shotPending);
        EXPECT_EQ(r.closeMessage, c.closeMessage);
        EXPECT_EQ(r.quit, c.quit);
        EXPECT_EQ(g_inst.finalCode, c.finalCode);
        EXPECT_EQ(g_inst.autoStart, c.autoStartAfter);
    }
    ResetRun();
    g_inst.bundle = false;
}
