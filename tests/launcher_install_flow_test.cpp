// The INSTALL action end to end with the stand-in setup script
// (tools/setup.py): single-file mode in this process (payload written by the
// fixture, copied into an install folder, script started from the copy), and
// the mode without a payload in a release folder of its own (this program
// runs again from there, NoPayloadInApp). HOME and the XDG folders point into
// a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "launcher/install_dir.h"
#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/prereq.h"
#include "launcher/setup_script.h"
#include "launcher/sha256.h"
#include "runtime/paths.h"
#include "runtime/platform/text.h"
#include "tests/support/flow_support.h"
#include "tests/support/payload_fixture.h"

namespace fs = std::filesystem;
using flow_support::EnvGuard;
using flow_support::ReadText;
using flow_support::Tmpfs;
using flow_support::WriteText;
using payload_fixture::Entry;
using payload_fixture::TempDir;

namespace {

const fs::path SETUP_SCRIPT = fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py";
const char* const NO_SPACE = ": No space left on device";

fs::path RealPython() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3", "/bin/python3"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

// A folder the installer accepts as the game folder.
fs::path MakeDump(const fs::path& folder) {
    WriteText(folder / "default.xex", "XEX2");
    WriteText(folder / "default.rcf", "RCF");
    return folder;
}

void InitPaths(const fs::path& exe, const fs::path& game) {
    std::string self = exe.string(), gameSwitch = "--game", gameText = game.string();
    char* argv[] = {self.data(), gameSwitch.data(), gameText.data(), nullptr};
    ASSERT_TRUE(paths::Init(3, argv, false));
}

// Content digest of every regular file and link target the payload lists for
// the components not in `skip`, as found below `root`.
std::map<std::string, std::string> Installed(const fs::path& root, const std::vector<Entry>& entries,
                                             const std::set<std::string>& skip) {
    std::map<std::string, std::string> tree;
    for (const Entry& e : entries) {
        if (skip.count(e.component)) continue;
        const fs::path path = root / e.path;
        std::error_code ec;
        if (fs::is_symlink(path, ec)) tree[e.path] = "link " + fs::read_symlink(path, ec).string();
        else if (fs::is_regular_file(path, ec)) tree[e.path] = Sha256File(path);
        else tree[e.path] = "absent";
    }
    return tree;
}

std::vector<std::string> RecordedArgs(const fs::path& record) {
    // {"argv": [...], "cwd": ...} written by json.dump with ASCII escapes; our
    // paths here are plain ASCII without quotes or backslashes.
    std::vector<std::string> args;
    const std::string text = ReadText(record);
    size_t pos = text.find("\"argv\": [");
    if (pos == std::string::npos) return {"<no record>"};
    pos += 9;
    while (pos < text.size() && text[pos] == '"') {
        const size_t end = text.find('"', pos + 1);
        args.push_back(text.substr(pos + 1, end - pos - 1));
        pos = end + 1;
        if (text.compare(pos, 2, ", ") == 0) pos += 2;
    }
    return args;
}

std::string RecordedCwd(const fs::path& record) {
    const std::string text = ReadText(record);
    const size_t pos = text.find("\"cwd\": \"");
    if (pos == std::string::npos) return "<no record>";
    return text.substr(pos + 8, text.find('"', pos + 8) - pos - 8);
}

void ResetRun() {
    if (g_inst.extractor.joinable()) g_inst.extractor.join();
    if (g_inst.reader.joinable()) g_inst.reader.join();
    g_inst.phase = Phase::Setup;
    g_inst.extracting = false;
    g_inst.setupPending = false;
    g_inst.pendingArgs.clear();
    g_inst.selected = 0;
    g_inst.extract.done.store(0);
    g_inst.extract.total.store(0);
    g_inst.extract.cancel.store(false);
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.log.clear();
    g_inst.error.clear();
    g_inst.hint.clear();
    g_inst.step = 0;
    g_inst.progress = -1.0f;
    g_inst.gameReady = false;
    g_inst.finishedDir.clear();
    g_inst.processDone = false;
    g_inst.process = 0;
    g_inst.cancelled = false;
    g_inst.extractError.clear();
    g_inst.extractFinished = false;
    if (g_inst.logFile) {
        std::fclose(g_inst.logFile);
        g_inst.logFile = nullptr;
    }
}

bool RunToEnd() {
    return flow_support::PollUntil([] { UpdateInstaller(); }, [] { return g_inst.phase != Phase::Running; });
}

std::string Error() {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    return g_inst.error;
}

std::vector<std::string> LogLines() {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    return g_inst.log;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// --- Single-file mode -------------------------------------------------------

class SingleFileFlow : public ::testing::Test {
protected:
    void SetUp() override {
        python = RealPython();
        ASSERT_FALSE(python.empty()) << "no python3 for the stand-in setup script";
        setenv("HOME", (tmp.path() / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tmp.path() / "home" / "cfg").c_str(), 1);
        setenv("XDG_DATA_HOME", (tmp.path() / "home" / "data").c_str(), 1);
        record = tmp.path() / "record.json";
        setenv("VELKOR_STANDIN_RECORD", record.c_str(), 1);
        unsetenv("VELKOR_STANDIN_SCRIPT");
        g_values.language = "english";

        game = MakeDump(tmp.path() / "dump");
        InitPaths(fs::read_symlink("/proc/self/exe"), game);

        entries = payload_fixture::SampleEntries(SETUP_SCRIPT, python);
        ClearInstallerUiState();
        ResetRun();
        g_inst.bundle = true;
        g_inst.gpuKnown = true;
        g_inst.dlss = false;
        g_inst.subtitles = true;
        g_inst.remaster = g_inst.extractAssets = g_inst.copyGame = false;
        g_inst.gameBytes = 0;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            g_inst.dump = DumpProblem();
        }
        CheckPrerequisites();
        ASSERT_TRUE(g_inst.checked);
    }

    void TearDown() override {
        CancelInstall();
        ResetRun();
        g_inst.bundle = false;
        g_inst.gpuKnown = false;
        g_inst.dlss = false;
        g_inst.installDir.clear();
        g_inst.gameBytes = 0;
        g_payload = Payload();
        ClearInstallerUiState();
        g_values.language = "english";
    }

    // Writes the payload and makes it the one of this process.
    void UsePayload(const std::string& tag = "v2") {
        ASSERT_EQ(payload_fixture::WritePayload(payloadRoot, tag, entries), "");
        g_payload = Payload();
        ASSERT_TRUE(ReadPayloadIndex(payloadRoot, g_payload));
        g_payload.present = true;
    }

    // Places the install folder on a private tmpfs when the machine allows
    // one, so that free space is known exactly and the real disk is not used.
    // False when the drive has too little room for the estimate.
    bool UseInstallDir(const std::string& name) {
        disk.emplace(tmp.path() / "disk", "size=40g"); // a limit only: tmpfs takes memory as files come
        g_inst.installDir = (disk->mounted() ? tmp.path() / "disk" : tmp.path()) / name;
        return FreeBytes(g_inst.installDir) >= RequiredBytes();
    }

    void Plan(const std::string& json) {
        const fs::path plan = tmp.path() / "plan.json";
        WriteText(plan, json);
        setenv("VELKOR_STANDIN_PLAN", plan.c_str(), 1);
    }

    std::vector<std::string> BaseArgs() const {
        return {"--game", game.string(), "--subtitles", "--copy-game", "--play-dir", g_inst.installDir.string(),
                "--no-dlss", "--assets-dir", paths::ExeDir().string()};
    }

    EnvGuard env{"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "VELKOR_STANDIN_RECORD", "VELKOR_STANDIN_PLAN",
                 "VELKOR_STANDIN_SCRIPT"};
    TempDir tmp{"velkor-flow"};
    fs::path python, record, game;
    fs::path payloadRoot = tmp.path() / "image" / "payload";
    std::vector<Entry> entries;
    std::optional<Tmpfs> disk;
};

TEST_F(SingleFileFlow, InstallsFromStartToDone) {
    UsePayload();
    if (!UseInstallDir("My Games/Velkor of the Ombrax Lumenfall")) GTEST_SKIP() << "too little free space";
    const fs::path inst = g_inst.installDir;
    const fs::path root = Root();
    ASSERT_EQ(root, inst / "VelkorRecomp");

    // A previous version: its installed-files list and files it left.
    const fs::path outside = tmp.path() / "outside.txt";
    WriteText(outside, "not ours");
    WriteText(inst / "outside-relative.txt", "not ours either");
    WriteText(root / "old" / "stale.txt", "from the previous version");
    WriteText(root / "modding" / "readme.txt", "left out now");
    WriteText(inst / ".velkorrecomp_files", "old/stale.txt\ntools/a b.py\nmodding/readme.txt\n../outside-relative.txt\n" +
                                                outside.string() + "\n" + (root / "old").string() + "\n");
    // DLSS files of an installation that had DLSS.
    const std::vector<fs::path> dlssGone = {
        root / "thirdparty" / "dlss" / "bin" / "libnvidia-ngx-dlss.so.3.1.0",
        root / "thirdparty" / "dlss" / "bin" / "libVelkorDlss.so",
        root / "build" / "libVelkorDlss.so",
        root / "build" / "libnvidia-ngx-dlss.so",
        inst / "libnvidia-ngx-dlss.so.2.4",
    };
    const std::vector<fs::path> dlssKept = {
        inst / "old-libnvidia-ngx-dlss.so",          // the name only contains it further in
        root / "build" / "sub" / "libVelkorDlss.so", // no recursion
        root / "build" / "libVelkorDlss.so.1",
        root / "thirdparty" / "dlss" / "bin" / "libnvidia-ngx-dlssd.so",
    };
    for (const fs::path& file : dlssGone) WriteText(file, "dlss");
    for (const fs::path& file : dlssKept) WriteText(file, "keep");

    Plan(R"([{"line": "@@step 1 | tools"}, {"line": "building"}, {"line": "@@game-ready )" + inst.string() +
         R"("}, {"line": "@@finished )" + inst.string() + R"("}, {"exit": 0}])");

    ASSERT_TRUE(CanInstall());
    StartInstall(false);
    EXPECT_EQ(LastMessage(0), "");
    ASSERT_EQ(g_inst.phase, Phase::Running);
    EXPECT_TRUE(g_inst.extracting);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "Installing to " + inst.string(),
                              "No NVIDIA RTX GPU: DLSS left out (no upscaler: no FSR on Linux yet).",
                          }));
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();

    // The script ran from the copy, in the install root, with the choices.
    EXPECT_EQ(RecordedArgs(record), BaseArgs());
    EXPECT_EQ(RecordedCwd(record), root.string());
    EXPECT_EQ(fs::path(g_inst.python), root / "toolchain" / "python" / "bin" / "python3");
    EXPECT_TRUE(Contains(LogLines(), "Files extracted; building the game..."));
    EXPECT_TRUE(Contains(LogLines(), "building"));

    // The payload without DLSS and modding, byte for byte.
    EXPECT_EQ(Installed(root, entries, {"dlss", "modding"}), Installed(payloadRoot, entries, {"dlss", "modding"}));
    for (const Entry& e : entries) {
        if (e.component != "base") {
            EXPECT_FALSE(fs::exists(fs::symlink_status(root / e.path))) << e.path;
        }
    }

    // What a finished installation leaves.
    EXPECT_EQ(ReadText(InstallDirMemory()), inst.string() + "\n");
    EXPECT_EQ(DefaultInstallDir(), inst);
    EXPECT_EQ(ReadText(inst / ".velkorrecomp_version"), "v2\n");
    EXPECT_EQ(g_inst.selected, 2);
    std::string list;
    for (const std::string& path : std::set<std::string>{
             "bin/run game.sh", "data/big.bin", "data/deep/er/still deeper/ação.txt", "data/empty.bin",
             "lib/libx.so", "lib/libx.so.1", "toolchain/python/bin/python3", "tools/a b.py", "tools/setup.py"}) {
        list += path + "\n";
    }
    EXPECT_EQ(ReadText(inst / ".velkorrecomp_files"), list);

    // Files of the previous version are gone; nothing outside the root was touched.
    EXPECT_FALSE(fs::exists(root / "old" / "stale.txt"));
    EXPECT_FALSE(fs::exists(root / "modding" / "readme.txt"));
    EXPECT_EQ(ReadText(outside), "not ours");
    EXPECT_EQ(ReadText(inst / "outside-relative.txt"), "not ours either");
    EXPECT_TRUE(fs::is_directory(root / "old"));
    for (const fs::path& file : dlssGone) EXPECT_FALSE(fs::exists(file)) << file;
    for (const fs::path& file : dlssKept) EXPECT_TRUE(fs::exists(file)) << file;
}

TEST_F(SingleFileFlow, DlssIncludedKeepsItsFiles) {
    UsePayload("");
    g_inst.dlss = true;
    if (!UseInstallDir("inst")) GTEST_SKIP() << "too little free space";
    WriteText(Root() / "build" / "libVelkorDlss.so", "module");
    Plan(R"([{"exit": 0}])");
    StartInstall(false);
    EXPECT_TRUE(Contains(LogLines(), "NVIDIA RTX GPU: DLSS included."));
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();
    std::vector<std::string> expected = BaseArgs();
    expected.erase(std::find(expected.begin(), expected.end(), "--no-dlss"));
    EXPECT_EQ(RecordedArgs(record), expected);
    EXPECT_EQ(Installed(Root(), entries, {"modding"}), Installed(payloadRoot, entries, {"modding"}));
    EXPECT_TRUE(fs::exists(Root() / "build" / "libVelkorDlss.so"));
    EXPECT_FALSE(fs::exists(g_inst.installDir / ".velkorrecomp_version")); // no tag, no version file
}

TEST_F(SingleFileFlow, FolderAndSpaceProblemsStayInSetup) {
    UsePayload();
    // The install folder cannot be made.
    WriteText(tmp.path() / "a file", "x");
    g_inst.installDir = tmp.path() / "a file" / "inst";
    StartInstall(false);
    EXPECT_EQ(g_inst.phase, Phase::Setup);
    EXPECT_FALSE(g_inst.extracting);
    EXPECT_EQ(LastMessage(0), "Cannot create this folder.");
    EXPECT_EQ(LastMessage(1), g_inst.installDir.string());

    // Too little space, told in Portuguese with decimal commas.
    const fs::path small = tmp.path() / "small";
    Tmpfs tmpfs(small, "size=64m");
    g_inst.installDir = (tmpfs.mounted() ? small : tmp.path()) / "inst";
    g_values.language = "pt-br";
    uint64_t payloadBytes = 0;
    for (const PayloadFile& f : g_payload.files) payloadBytes += f.component == "base" ? f.size : 0;
    g_inst.gameBytes = uint64_t(1) << 50; // more than any disk here
    const double needGb = (943718400.0 + 10485760.0 + 1125899906842624.0 + double(payloadBytes)) / 1073741824.0;
    char need[64];
    std::snprintf(need, sizeof need, "%.1f", needGb);
    std::string needText = need;
    std::replace(needText.begin(), needText.end(), '.', ',');
    StartInstall(false);
    EXPECT_EQ(g_inst.phase, Phase::Setup);
    EXPECT_FALSE(g_inst.extracting);
    EXPECT_EQ(LastMessage(0), "Falta espaço livre neste disco:");
    if (tmpfs.mounted()) {
        EXPECT_EQ(LastMessage(1), "precisa de " + needText + " GB, livre 64 MB");
    } else {
        EXPECT_EQ(LastMessage(1).rfind("precisa de " + needText + " GB, livre ", 0), 0u) << LastMessage(1);
    }
    EXPECT_TRUE(fs::is_empty(g_inst.installDir)); // the folder check made it; nothing was copied
}

TEST_F(SingleFileFlow, RunningOutOfSpaceFailsAndAFreedDiskCompletes) {
    UsePayload();
    const fs::path small = tmp.path() / "small";
    // Plenty of bytes for the estimate, but few file slots: the disk fills up
    // on files, the way a real one does, without holding a gigabyte here.
    Tmpfs tmpfs(small, "size=1100m,nr_inodes=2000");
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a small file system here: " << tmpfs.error();
    g_inst.installDir = small / "inst";
    const fs::path root = Root();
    // The folders exist (an earlier attempt made them): the copy itself fails.
    for (const Entry& e : entries) fs::create_directories((root / e.path).parent_path());
    // Fill the file slots, then give one back for the folder's write test.
    const fs::path ballast = small / "ballast";
    fs::create_directories(ballast);
    int made = 0;
    for (; made < 100000; ++made) {
        const int fd = ::open((ballast / std::to_string(made)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) break;
        ::close(fd);
    }
    ASSERT_EQ(errno, ENOSPC);
    fs::remove(ballast / std::to_string(made - 1));

    const auto payloadBefore = Installed(payloadRoot, entries, {});
    const std::string indexBefore = ReadText(payloadRoot / ".velkorrecomp_payload");
    Plan(R"([{"exit": 0}])");
    StartInstall(false);
    ASSERT_EQ(g_inst.phase, Phase::Running) << LastMessage(0) << " " << LastMessage(1);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Failed);
    const std::string error = Error();
    ASSERT_GT(error.size(), std::strlen(NO_SPACE));
    ASSERT_EQ(error.substr(error.size() - std::strlen(NO_SPACE)), NO_SPACE) << error;
    const std::string target = error.substr(0, error.size() - std::strlen(NO_SPACE));
    bool listed = false;
    for (const Entry& e : entries) listed = listed || (e.link.empty() && target == (root / e.path).string());
    EXPECT_TRUE(listed) << "not a payload file in the install root: " << target;
    EXPECT_FALSE(fs::exists(g_inst.installDir / ".velkorrecomp_version"));
    EXPECT_EQ(Installed(payloadRoot, entries, {}), payloadBefore);
    EXPECT_EQ(ReadText(payloadRoot / ".velkorrecomp_payload"), indexBefore);

    // Space freed: TRY AGAIN returns to the options, and INSTALL completes.
    fs::remove_all(ballast);
    g_inst.phase = Phase::Setup;
    StartInstall(false);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();
    EXPECT_EQ(Installed(root, entries, {"dlss", "modding"}), Installed(payloadRoot, entries, {"dlss", "modding"}));
    EXPECT_EQ(Installed(payloadRoot, entries, {}), payloadBefore);
}

TEST_F(SingleFileFlow, CancellingTheCopyStopsAndTheNextInstallGoesOn) {
    // The first file is a pipe: its copy lasts until the test has cancelled.
    const std::string slow = payload_fixture::Bytes(7, 5000);
    entries.insert(entries.begin(), Entry{"base", "0 slow.bin", slow, "", {}, false});
    UsePayload();
    const fs::path pipe = payloadRoot / "0 slow.bin";
    fs::remove(pipe);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    if (!UseInstallDir("inst")) GTEST_SKIP() << "too little free space";

    Plan(R"([{"exit": 0}])");
    StartInstall(false);
    ASSERT_EQ(g_inst.phase, Phase::Running);
    int fd = -1;
    ASSERT_TRUE(flow_support::PollUntil([&] { fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); },
                                        [&] { return fd >= 0; }))
        << "the copy never opened the first file";
    CancelInstall();
    ::fcntl(fd, F_SETFL, 0);
    ASSERT_EQ(::write(fd, slow.data(), slow.size()), static_cast<ssize_t>(slow.size()));
    ::close(fd);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(Error(), "Stopped.");
    EXPECT_EQ(ReadText(Root() / "0 slow.bin"), slow); // copied files stay

    // The next INSTALL does not read the complete file again (the pipe has no
    // writer now: reading it would never end).
    g_inst.phase = Phase::Setup;
    StartInstall(false);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();
    entries.erase(entries.begin());
    EXPECT_EQ(Installed(Root(), entries, {"dlss", "modding"}), Installed(payloadRoot, entries, {"dlss", "modding"}));
}

TEST_F(SingleFileFlow, AssetsOnlyRetryAfterTheLastStepFailed) {
    UsePayload();
    g_inst.extractAssets = true;
    if (!UseInstallDir("inst")) GTEST_SKIP() << "too little free space";
    const fs::path inst = g_inst.installDir;
    Plan(R"([{"line": "@@step 8"}, {"line": "@@game-ready )" + inst.string() +
         R"("}, {"line": "@@step 9 | assets"}, {"line": "@@error The asset export failed."}, {"exit": 4}])");
    StartInstall(false);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Failed);
    EXPECT_EQ(Error(), "The asset export failed.");
    EXPECT_TRUE(AssetsOnlyFailed());
    EXPECT_EQ(ReadText(inst / ".velkorrecomp_version"), "v2\n"); // the game is ready
    EXPECT_FALSE(fs::exists(InstallDirMemory()));                // but the run did not finish

    // The retry copies nothing and passes only the game and the switch.
    fs::remove(Root() / "tools" / "a b.py");
    Plan(R"([{"exit": 0}])");
    StartInstall(true);
    EXPECT_EQ(g_inst.phase, Phase::Running);
    EXPECT_FALSE(g_inst.extracting);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();
    EXPECT_EQ(RecordedArgs(record), (std::vector<std::string>{"--game", game.string(), "--assets-only"}));
    EXPECT_FALSE(fs::exists(Root() / "tools" / "a b.py"));
    EXPECT_FALSE(AssetsOnlyFailed());

    // Only a failure after the game was built, in the last step, qualifies.
    struct Case {
        Phase phase;
        bool ready;
        int step;
        bool expected;
    };
    for (const Case& c : {Case{Phase::Failed, true, 9, true}, Case{Phase::Failed, true, 8, false},
                          Case{Phase::Failed, false, 9, false}, Case{Phase::Done, true, 9, false}}) {
        g_inst.phase = c.phase;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            g_inst.gameReady = c.ready;
            g_inst.step = c.step;
        }
        EXPECT_EQ(AssetsOnlyFailed(), c.expected) << c.ready << " " << c.step;
    }
    g_inst.phase = Phase::Setup;
}

TEST_F(SingleFileFlow, InstallWaitsForTheDlssDecisionAndAFolder) {
    UsePayload();
    g_inst.installDir = tmp.path() / "inst";
    EXPECT_TRUE(CanInstall());
    g_inst.gpuKnown = false;
    EXPECT_FALSE(CanInstall());
    g_inst.gpuKnown = true;
    g_inst.installDir.clear();
    EXPECT_FALSE(CanInstall());
    EXPECT_EQ(SkippedComponents(), (ComponentSet{"dlss", "modding"}));
    g_inst.dlss = g_inst.extractAssets = true;
    EXPECT_EQ(SkippedComponents(), ComponentSet{});
}

// --- Mode without a payload -------------------------------------------------

TEST(NoPayloadFlow, InItsReleaseFolder) {
    const fs::path python = RealPython();
    ASSERT_FALSE(python.empty()) << "no python3 for the stand-in setup script";
    TempDir tmp("velkor-nopayload");
    EnvGuard env{"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    setenv("HOME", (tmp.path() / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmp.path() / "home" / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (tmp.path() / "home" / ".local" / "share").c_str(), 1);
    const fs::path app = tmp.path() / "release";
    fs::create_directories(app / "tools");
    fs::copy_file(SETUP_SCRIPT, app / "tools" / "setup.py");
    fs::create_directories(app / "toolchain" / "python" / "bin");
    fs::create_symlink(python, app / "toolchain" / "python" / "bin" / "python3");
    std::string output;
    const int status = flow_support::RunInApp(app, "NoPayloadInApp.*", output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find("[  SKIPPED ]"), std::string::npos) << output;
    EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
}

TEST(NoPayloadInApp, CheckThenTheScriptStartsAtOnce) {
    const char* appVariable = std::getenv(flow_support::APP_VARIABLE);
    if (!appVariable) GTEST_SKIP() << "runs inside its release folder (NoPayloadFlow.InItsReleaseFolder)";
    const fs::path app = appVariable;
    const fs::path game = MakeDump(app.parent_path() / "dump");
    InitPaths(app / fs::read_symlink("/proc/self/exe").filename(), game);
    ASSERT_EQ(paths::ExeDir(), app);
    const fs::path record = app.parent_path() / "record.json";
    const fs::path plan = app.parent_path() / "plan.json";
    setenv("VELKOR_STANDIN_RECORD", record.c_str(), 1);
    setenv("VELKOR_STANDIN_PLAN", plan.c_str(), 1);
    g_values.language = "english";
    g_inst.bundle = false;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.dump = DumpProblem();
    }
    auto waitForCheck = [] {
        return flow_support::PollUntil([] { UpdateInstaller(); }, [] { return !g_inst.checking; });
    };

    // The check: its lines fill the lists; INSTALL stays off while a tool is missing.
    WriteText(plan, R"([{"line": "@@prereq ok Python 3.11+ | /usr/bin/python3"}, {"line": "@@prereq missing ninja"},
                        {"line": "@@pypkg missing numpy>=1.26"}])");
    CheckPrerequisites();
    EXPECT_FALSE(CanInstall());
    ASSERT_TRUE(waitForCheck());
    EXPECT_EQ(RecordedArgs(record), std::vector<std::string>{"--check"});
    EXPECT_EQ(RecordedCwd(record), app.string());
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        ASSERT_EQ(g_inst.prereqs.size(), 2u);
        EXPECT_EQ(g_inst.prereqs[1].name, "ninja");
        EXPECT_EQ(MissingCount(), 1);
        EXPECT_EQ(MissingPackages(), "numpy");
    }
    EXPECT_FALSE(CanInstall());

    WriteText(plan, R"([{"line": "@@prereq ok ninja | /usr/bin/ninja"}, {"line": "@@pypkg missing numpy>=1.26"}])");
    PrereqsRowAction();
    ASSERT_TRUE(waitForCheck());
    ASSERT_TRUE(CanInstall());

    // INSTALL: no copy, the script starts at once in the release folder.
    g_inst.copyGame = true;
    g_inst.remaster = true;
    WriteText(plan, R"([{"line": "@@step 1 | tools"}, {"line": "working"}, {"line": "@@finished )" +
                        (app / "dist").string() + R"("}, {"exit": 0}])");
    ClearInstallerUiState();
    StartInstall(false);
    EXPECT_EQ(LastMessage(0), "");
    ASSERT_EQ(g_inst.phase, Phase::Running);
    EXPECT_FALSE(g_inst.extracting);
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(g_inst.phase, Phase::Done) << Error();
    EXPECT_EQ(RecordedArgs(record), (std::vector<std::string>{"--game", game.string(), "--subtitles", "--remaster",
                                                              "--copy-game", "--assets-dir", app.string()}));
    EXPECT_EQ(RecordedCwd(record), app.string());
    EXPECT_EQ(ReadText(app / "setup.log"), "@@step 1 | tools\nworking\n@@finished " + (app / "dist").string() + "\n");
    EXPECT_TRUE(Contains(LogLines(), "working"));
    EXPECT_FALSE(fs::exists(InstallDirMemory())); // only single-file installations are remembered
    EXPECT_FALSE(fs::exists(app / "dist" / ".velkorrecomp_version"));
    ResetRun();
}

} // namespace

TEST(InstallArguments, FolderNamesWithQuotesAndBackslashesReachTheScriptExactly) {
    const bool bundle = g_inst.bundle;
    const fs::path installDir = g_inst.installDir;
    for (const char* name : {"/tmp/My \"Games\"", "/tmp/ends with\\", "/tmp/a\\\"b", "/tmp/plain dir"}) {
        g_inst.bundle = true;
        g_inst.installDir = name;
        const std::vector<std::string> items = SplitArgs(plat::NarrowUtf8(InstallArgs(false)));
        const auto at = std::find(items.begin(), items.end(), "--play-dir");
        ASSERT_NE(at, items.end()) << name;
        ASSERT_NE(at + 1, items.end()) << name;
        EXPECT_EQ(at[1], PlayDir().string()) << name;
        EXPECT_EQ(PlayDir().string(), name);
    }
    g_inst.bundle = bundle;
    g_inst.installDir = installDir;
}
