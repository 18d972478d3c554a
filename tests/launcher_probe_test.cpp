// The DLSS probe child mode: "VelkorLauncher --probe-dlss <folder> <result>",
// with stand-in modules of our own built by this test.
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/wait.h>

#include "launcher/gpu_probe.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

// A stand-in DLSS module: its probe creates the data folder it is given (so
// the test sees it removed afterwards), names a GPU and reports both folders.
const char* const MODULE_SOURCE = R"(
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <wchar.h>
static void Narrow(const wchar_t* w, char* out, size_t size) {
    size_t i = 0;
    for (; w && w[i] && i + 1 < size; ++i) out[i] = (char)w[i];
    out[i] = 0;
}
__attribute__((visibility("default")))
int32_t PROBE_NAME(const wchar_t* moduleDir, const wchar_t* dataPath, char* gpu, uint32_t gpuSize,
                   char* reason, uint32_t reasonSize) {
    char module[512], data[512];
    Narrow(moduleDir, module, sizeof module);
    Narrow(dataPath, data, sizeof data);
    mkdir(data, 0755);
#ifdef FILL
    memset(gpu, 'g', gpuSize);
    memset(reason, 'r', reasonSize);
#else
    snprintf(gpu, gpuSize, "Stand-in GPU");
    snprintf(reason, reasonSize, "module %s data %s", module, data);
#endif
    return ANSWER;
}
)";

// Builds libVelkorDlss.so into `folder` with the given compiler definitions.
void BuildModule(const fs::path& folder, const std::string& defines) {
    fs::create_directories(folder);
    const fs::path source = folder / "module.c";
    std::ofstream(source) << MODULE_SOURCE;
    const std::string command = "cc -shared -fPIC -o '" + (folder / "libVelkorDlss.so").string() + "' '" +
                                source.string() + "' " + defines;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::vector<std::string> Lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs `program` with `args` and TMPDIR = `tmp`; returns its exit status.
int RunProgram(const std::vector<std::string>& args, const fs::path& tmp, const std::string& extraEnv = "",
               const fs::path& program = VELKOR_LAUNCHER_BIN) {
    std::string command = "cd '" + tmp.string() + "' && env TMPDIR='" + tmp.string() + "' " + extraEnv + " '" +
                          program.string() + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProbeTest : public ::testing::Test {
protected:
    TempDir t;
    void SetUp() override { setenv("TMPDIR", t.path().c_str(), 1); }
    void TearDown() override { unsetenv("TMPDIR"); }
};

TEST_F(ProbeTest, ModuleAnswers) {
    struct Case {
        const char* name;
        const char* defines;
        int code;
        std::string line1, line2;
    };
    const std::vector<Case> cases = {
        {"available", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=1", 0, "1", "Stand-in GPU"},
        {"not available", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=0", 1, "0", "Stand-in GPU"},
        {"any non-zero answer", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=7", 0, "7", "Stand-in GPU"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = t.path() / c.name;
        BuildModule(folder, c.defines);
        const fs::path result = t.path() / (std::string(c.name) + ".txt");
        EXPECT_EQ(RunDlssProbe(folder, result), c.code);
        const auto lines = Lines(result);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], c.line1);
        EXPECT_EQ(lines[1], c.line2);
        EXPECT_EQ(lines[2], "module " + folder.string() + " data " + (t.path() / "VelkorRecomp_ngx").string());
        EXPECT_FALSE(fs::exists(t.path() / "VelkorRecomp_ngx")) << "the data folder is removed";
    }
}

TEST_F(ProbeTest, MissingEntryPoint) {
    BuildModule(t.path() / "m", "-DPROBE_NAME=SomethingElse -DANSWER=1");
    EXPECT_EQ(RunDlssProbe(t.path() / "m", t.path() / "r.txt"), 1);
    EXPECT_EQ(Lines(t.path() / "r.txt"), (std::vector<std::string>{"0", "", "libVelkorDlss.so has no VelkorDlss_Probe"}));
}

TEST_F(ProbeTest, BuffersFilledToTheEndAreCutToTheirSize) {
    BuildModule(t.path() / "m", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=1 -DFILL");
    EXPECT_EQ(RunDlssProbe(t.path() / "m", t.path() / "r.txt"), 0);
    EXPECT_EQ(Lines(t.path() / "r.txt"), (std::vector<std::string>{"1", std::string(255, 'g'), std::string(511, 'r')}));
}

TEST_F(ProbeTest, ResultFileThatCannotBeWrittenStillGivesTheExitCode) {
    BuildModule(t.path() / "m", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=1");
    EXPECT_EQ(RunDlssProbe(t.path() / "m", t.path() / "no" / "such" / "r.txt"), 0);
}

TEST_F(ProbeTest, ProgramWithoutModuleReportsTheLoaderMessage) {
    const fs::path result = t.path() / "r.txt";
    EXPECT_EQ(RunProgram({"--probe-dlss", "/nonexistent", result.string()}, t.path()), 1);
    const auto lines = Lines(result);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[1], "");
    EXPECT_NE(lines[2].find("/nonexistent/libVelkorDlss.so"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("No such file or directory"), std::string::npos) << lines[2];
}

TEST_F(ProbeTest, ProgramWithAnAvailableModule) {
    BuildModule(t.path() / "m", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=1");
    const fs::path result = t.path() / "r.txt";
    EXPECT_EQ(RunProgram({"--probe-dlss", (t.path() / "m").string(), result.string()}, t.path()), 0);
    const auto lines = Lines(result);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "Stand-in GPU");
    EXPECT_FALSE(fs::exists(t.path() / "VelkorRecomp_ngx"));
}

// Not exactly "--probe-dlss <folder> <result>" as the whole command line: the
// program starts as the installer, which here asks for the dump (the stand-in
// picker cancels, the question box cannot be shown) and ends with 0.
TEST_F(ProbeTest, OtherCommandLinesAreNotTheProbe) {
    BuildModule(t.path() / "m", "-DPROBE_NAME=VelkorDlss_Probe -DANSWER=1");
    const std::string module = (t.path() / "m").string();
    const std::string result = (t.path() / "r.txt").string();
    const std::vector<std::vector<std::string>> cases = {
        {"--probe-dlss", "a"},
        {"--probe-dlss", module},
        {"--probe-dlss", module, result, "extra"},
        {"--autofinish", "--probe-dlss", module, result},
        {"--PROBE-DLSS", module, result},
    };
    // The installer writes its log next to itself: run a copy.
    const fs::path program = t.path() / "program" / "VelkorLauncher";
    fs::create_directories(program.parent_path());
    fs::copy_file(VELKOR_LAUNCHER_BIN, program);
    const fs::path standinLog = t.path() / "standin.log";
    const std::string env = "PATH='" VELKOR_SOURCE_DIR "/tests/support/bin:/usr/bin:/bin' STANDIN_LOG='" +
                            standinLog.string() + "' SDL_VIDEO_DRIVER=offscreen HOME='" + t.path().string() +
                            "' XDG_CONFIG_HOME='" + t.path().string() + "'";
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " with " + std::to_string(args.size()) + " arguments");
        fs::remove(standinLog);
        EXPECT_EQ(RunProgram(args, t.path(), env, program), 0);
        EXPECT_FALSE(fs::exists(result)) << "no result file";
        std::ifstream in(standinLog);
        std::string line;
        std::getline(in, line);
        EXPECT_NE(line.find("--file-selection"), std::string::npos) << "the dump prompt ran: " << line;
        std::ifstream log(program.parent_path() / "VelkorSetup.log");
        std::getline(log, line);
        EXPECT_EQ(line, "[setup] game folder not chosen");
    }
}

} // namespace
