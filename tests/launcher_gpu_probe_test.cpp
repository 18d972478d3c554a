// The DLSS check as the installer runs it: StartGpuCheck on a payload with a
// "dlss" component, the GPU detection (through the stand-in Vulkan loader,
// which reports the devices a test asks for), the extraction into the
// temporary probe folder, the real program as the probe child (VelkorLauncher
// --probe-dlss), stand-in DLSS modules of ours that answer as a test asks, and
// UpdateGpuCheck taking the decision.
#include "tests/support/files.h"

#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "launcher/dlss_probe.h"
#include "launcher/installer.h"
#include "launcher/installer_payload.h"
#include "tests/support/vulkan_standin/standin_loader.h"

namespace fs = std::filesystem;

namespace {

using testsupport::ScopedEnv;

using testsupport::ReadFile;
using testsupport::WriteFile;

const bool g_standinVulkan = RestartWithStandinVulkan(VELKOR_VULKAN_STANDIN_DIR);

const char* const NVIDIA_DGPU = "10de|discrete|1.3|NVIDIA GeForce RTX 4070";

// The value after "<key> " in the stand-in module's record of its call.
std::string Recorded(const std::string& record, const std::string& key) {
    std::istringstream in(record);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

class GpuProbe : public ::testing::Test {
protected:
    void SetUp() override { Begin(); }
    void TearDown() override { End(); }

    // A fresh scene: temporary folders, environment, probe and installer state.
    void Begin() {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        std::string parent = base && *base ? base : "/tmp";
        std::error_code ec;
        fs::create_directories(parent, ec);
        std::string pattern = parent + "/gpu_probe_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_work = pattern;
        m_tmp = m_work / "tmp";
        fs::create_directories(m_tmp);
        m_record = m_work / "probe-call.txt";
        m_env.emplace_back(std::make_unique<ScopedEnv>("TMPDIR", m_tmp.c_str()));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_DLSS_STANDIN_LOG", m_record.c_str()));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_VULKAN_DEVICE", nullptr));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_GPU_VENDOR", nullptr));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_STANDIN_GPUS", NVIDIA_DGPU));
        ASSERT_TRUE(g_standinVulkan) << "the stand-in Vulkan loader is not in use";

        ResetDlssProbeForTests();
        SetDlssProbeSeamForTests(DlssProbeSeam{VELKOR_LAUNCHER_BIN, DLSS_PROBE_POLLS});
        g_inst.gpu = GpuInfo{};
        g_inst.gpuKnown = false;
        g_inst.dlss = false;
        g_inst.probeDir.clear();
        g_payload = Payload{};
    }

    void End() {
        ResetDlssProbeForTests();
        SetDlssProbeSeamForTests(DlssProbeSeam{});
        g_payload = Payload{};
        while (!m_env.empty()) m_env.pop_back(); // restore in reverse order
        std::error_code ec;
        fs::remove_all(m_work, ec);
    }

    // A payload with base and modding files and, when `module` is not empty, a
    // "dlss" component holding that module and one NGX feature library.
    void MakePayload(const fs::path& module, bool withDlss = true) {
        const fs::path root = m_work / "payload";
        std::ostringstream index;
        index << "tag v1.2.3\n";
        auto add = [&](const std::string& component, const std::string& path, const std::string& content) {
            WriteFile(root / path, content);
            index << "file " << component << " " << content.size() << " " << path << "\n";
        };
        add("base", "tools/setup.py", "print('setup')\n");
        add("modding", "tools/modding/readme.txt", "modding tools\n");
        if (withDlss) {
            if (!module.empty()) add("dlss", std::string(DLSS_MODULE_DIR) + "/libVelkorDlss.so", ReadFile(module));
            add("dlss", std::string(DLSS_MODULE_DIR) + "/libnvidia-ngx-dlss.so.3.7.10", "feature library\n");
        }
        WriteFile(root / PAYLOAD_INDEX, index.str());
        ASSERT_TRUE(ReadPayloadIndex(root, g_payload));
    }

    // The frame loop's view: UpdateGpuCheck once per frame until the decision is final.
    void WaitForDecision() {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!g_inst.gpuKnown && std::chrono::steady_clock::now() < giveUp) {
            UpdateGpuCheck();
            if (!g_inst.gpuKnown) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(g_inst.gpuKnown) << "the GPU check never finished";
    }

    // Nothing of the check stays in the temporary folder.
    void ExpectTemporaryFolderClean() {
        std::vector<std::string> left;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_tmp, ec)) left.push_back(entry.path().filename().string());
        EXPECT_TRUE(left.empty()) << "left in the temporary folder: " << ::testing::PrintToString(left);
    }

    fs::path m_work, m_tmp, m_record;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

const fs::path STANDIN_MODULE = fs::path(VELKOR_DLSS_STANDIN_DIR) / "libVelkorDlss.so";
const fs::path NOPROBE_MODULE = fs::path(VELKOR_DLSS_NOPROBE_DIR) / "libVelkorDlss.so";

} // namespace

TEST_F(GpuProbe, ChildAnswers) {
    struct Case {
        const char* mode; // VELKOR_DLSS_STANDIN
        fs::path module;
        int polls;
        bool dlss;
        std::string reason;
        std::string gpu; // empty: the detected name stays
    } cases[] = {
        {"available", STANDIN_MODULE, DLSS_PROBE_POLLS, true, "DLSS available", "Stand-in RTX 4070"},
        {"unavailable", STANDIN_MODULE, DLSS_PROBE_POLLS, false, "no NVIDIA GPU", ""},
        {"crash", STANDIN_MODULE, DLSS_PROBE_POLLS, false, "the check crashed (code 134)", ""},
        {"available", NOPROBE_MODULE, DLSS_PROBE_POLLS, false, "libVelkorDlss.so has no VelkorDlss_Probe", ""},
        // The time limit is shortened through the test seam; the program waits 2000 polls.
        {"hang", STANDIN_MODULE, 25, false, "the check did not finish (20 s)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.module.parent_path().filename().string());
        if (&c != &cases[0]) End(), Begin();
        ScopedEnv mode("VELKOR_DLSS_STANDIN", c.mode);
        SetDlssProbeSeamForTests(DlssProbeSeam{VELKOR_LAUNCHER_BIN, c.polls});
        MakePayload(c.module);

        StartGpuCheck();
        EXPECT_FALSE(g_inst.gpuKnown); // INSTALL waits for the answer
        const std::string detected = g_inst.gpu.name;
        const fs::path probeDir = g_inst.probeDir;
        EXPECT_EQ(probeDir, m_tmp / ("VelkorSetup_dlss_" + std::to_string(getpid())));
        WaitForDecision();

        EXPECT_EQ(g_inst.dlss, c.dlss);
        EXPECT_EQ(g_dlssProbe.available, c.dlss);
        EXPECT_EQ(g_dlssProbe.reason, c.reason);
        EXPECT_EQ(detected, "NVIDIA GeForce RTX 4070");
        EXPECT_EQ(g_inst.gpu.name, c.gpu.empty() ? detected : c.gpu);
        EXPECT_EQ(g_inst.gpu.vendor, 0x10DEu);
        EXPECT_FALSE(g_inst.gpu.forced);
        EXPECT_EQ(g_dlssProbe.state.load(), 2);
        EXPECT_FALSE(fs::exists(probeDir));
        ExpectTemporaryFolderClean();

        const std::string record = ReadFile(m_record);
        if (c.module == STANDIN_MODULE) {
            // The child ran in the extracted module folder, the stand-in was called
            // with it, and the child is gone (a hanging one was killed and reaped).
            const fs::path moduleDir = probeDir / DLSS_MODULE_DIR;
            EXPECT_EQ(Recorded(record, "module"), moduleDir.string());
            EXPECT_EQ(Recorded(record, "cwd"), moduleDir.string());
            EXPECT_EQ(Recorded(record, "data"), (m_tmp / "VelkorRecomp_ngx").string());
            EXPECT_EQ(Recorded(record, "sizes"), "256 512");
            const std::string pid = Recorded(record, "pid");
            ASSERT_FALSE(pid.empty());
            errno = 0;
            EXPECT_EQ(kill(std::stoi(pid), 0), -1);
            EXPECT_EQ(errno, ESRCH);
        } else {
            EXPECT_EQ(record, "");
        }
    }
}

// What the parent makes of the result file a child leaves behind, well formed
// or not, together with the child's exit status.
TEST_F(GpuProbe, ResultFileContents) {
    const std::string longName(600, 'N');
    struct Case {
        const char* what;
        std::string content;
        int exitStatus;
        bool dlss;
        std::string gpu;    // empty: the detected name stays
        std::string reason;
    } cases[] = {
        {"available", "1\nStand-in RTX 4070\nDLSS available\n", 0, true, "Stand-in RTX 4070", "DLSS available"},
        {"\"1\" with exit status 1", "1\nStand-in RTX 4070\nDLSS available\n", 1, false, "Stand-in RTX 4070",
         "DLSS available"},
        {"Windows line ends", "1\r\nStand-in RTX 4070\r\nDLSS available\r\n", 0, true, "Stand-in RTX 4070",
         "DLSS available"},
        {"not available", "0\nStand-in GTX 1080\nNGX: feature not supported\n", 0, false, "Stand-in GTX 1080",
         "NGX: feature not supported"},
        {"line 1 only begins with 1", "17\nStand-in RTX 4070\nDLSS available\n", 0, true, "Stand-in RTX 4070",
         "DLSS available"},
        {"a carriage return inside a line ends it", "1\rx\nStand-in\rRTX\nok\rnot this", 0, true, "Stand-in", "ok"},
        {"overlong line", "0\n" + longName + "\nreason\n", 0, false, longName.substr(0, 511), "reason"},
        {"empty file", "", 0, false, "", "the check crashed (code 0)"},
        {"one line", "1", 0, true, "", "the check crashed (code 0)"},
        {"binary junk", std::string("\x01\x00\xff\n\x00N\nR\x00\xfe", 10), 3, false, "", "R"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (&c != &cases[0]) End(), Begin();
        const fs::path content = m_work / "result-content";
        WriteFile(content, c.content);
        const std::string exitStatus = std::to_string(c.exitStatus);
        ScopedEnv mode("VELKOR_DLSS_STANDIN", "raw");
        ScopedEnv result("VELKOR_DLSS_STANDIN_RESULT", content.c_str());
        ScopedEnv status("VELKOR_DLSS_STANDIN_EXIT", exitStatus.c_str());
        MakePayload(STANDIN_MODULE);
        StartGpuCheck();
        const std::string detected = g_inst.gpu.name;
        WaitForDecision();
        EXPECT_EQ(g_inst.dlss, c.dlss);
        EXPECT_EQ(g_dlssProbe.gpu, c.gpu);
        EXPECT_EQ(g_inst.gpu.name, c.gpu.empty() ? detected : c.gpu);
        EXPECT_EQ(g_dlssProbe.reason, c.reason);
        ExpectTemporaryFolderClean();
    }
}

TEST_F(GpuProbe, ModuleMissingFromThePayload) {
    MakePayload(fs::path()); // a "dlss" component without libVelkorDlss.so
    StartGpuCheck();
    WaitForDecision();
    EXPECT_FALSE(g_inst.dlss);
    // The loader's own message.
    EXPECT_NE(g_dlssProbe.reason.find("libVelkorDlss.so"), std::string::npos) << g_dlssProbe.reason;
    EXPECT_NE(g_dlssProbe.reason.find("No such file"), std::string::npos) << g_dlssProbe.reason;
    ExpectTemporaryFolderClean();
}

TEST_F(GpuProbe, ExtractionFailureMeansNoChild) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "available");
    MakePayload(STANDIN_MODULE);
    fs::remove(g_payload.root / DLSS_MODULE_DIR / "libVelkorDlss.so");
    StartGpuCheck();
    const fs::path probeDir = g_inst.probeDir;
    WaitForDecision();
    EXPECT_FALSE(g_inst.dlss);
    EXPECT_EQ(g_dlssProbe.reason, (probeDir / DLSS_MODULE_DIR / "libVelkorDlss.so").string() +
                                      ": No such file or directory");
    EXPECT_FALSE(fs::exists(m_record)); // no child was started
    ExpectTemporaryFolderClean();
}

TEST_F(GpuProbe, NoChildWithoutNvidiaOrWithoutDlssComponent) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "available");
    struct Case {
        const char* what;
        const char* gpus;   // VELKOR_STANDIN_GPUS
        const char* forced; // VELKOR_GPU_VENDOR
        bool withDlss;
        uint32_t vendor;
    } cases[] = {
        {"AMD GPU", "1002|discrete|1.3|AMD Radeon RX 7900 XT", nullptr, true, 0x1002},
        {"integrated Intel GPU only", "8086|integrated|1.3|Intel(R) UHD Graphics 770", nullptr, true, 0x8086},
        {"no Vulkan 1.3 device", "10de|discrete|1.2|NVIDIA GeForce GTX 680", nullptr, true, 0},
        {"NVIDIA GPU forced to AMD", NVIDIA_DGPU, "amd", true, 0x1002},
        {"NVIDIA GPU without a dlss component", NVIDIA_DGPU, nullptr, false, 0x10DE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (&c != &cases[0]) End(), Begin();
        ScopedEnv gpus("VELKOR_STANDIN_GPUS", c.gpus);
        ScopedEnv vendor("VELKOR_GPU_VENDOR", c.forced);
        MakePayload(STANDIN_MODULE, c.withDlss);
        StartGpuCheck();
        EXPECT_EQ(g_inst.gpu.vendor, c.vendor);
        // Decided at once, without a probe.
        EXPECT_TRUE(g_inst.gpuKnown);
        EXPECT_FALSE(g_inst.dlss);
        EXPECT_TRUE(g_inst.probeDir.empty());
        EXPECT_EQ(g_dlssProbe.state.load(), 0);
        UpdateGpuCheck();
        EXPECT_FALSE(g_inst.dlss);
        EXPECT_FALSE(fs::exists(m_record));
        ExpectTemporaryFolderClean();
    }
}

// VELKOR_GPU_VENDOR naming NVIDIA on a machine without NVIDIA hardware: the
// probe runs and its answer decides.
TEST_F(GpuProbe, ForcedNvidiaStartsTheProbe) {
    ScopedEnv gpus("VELKOR_STANDIN_GPUS", "8086|integrated|1.3|Intel(R) UHD Graphics 770");
    ScopedEnv vendor("VELKOR_GPU_VENDOR", "NVIDIA");
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "unavailable");
    MakePayload(STANDIN_MODULE);
    StartGpuCheck();
    EXPECT_EQ(g_inst.gpu.vendor, 0x10DEu);
    EXPECT_TRUE(g_inst.gpu.forced);
    EXPECT_FALSE(g_inst.gpuKnown);
    WaitForDecision();
    EXPECT_FALSE(g_inst.dlss);
    EXPECT_EQ(g_dlssProbe.reason, "no NVIDIA GPU");
    EXPECT_EQ(g_inst.gpu.name, "Intel(R) UHD Graphics 770");
    EXPECT_FALSE(Recorded(ReadFile(m_record), "pid").empty()); // the child ran the module's probe
    ExpectTemporaryFolderClean();
}

TEST_F(GpuProbe, StartsOnlyOnce) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "available");
    const fs::path folder = m_work / "module";
    fs::create_directories(folder);
    fs::copy_file(STANDIN_MODULE, folder / "libVelkorDlss.so");
    StartDlssProbe(folder);
    StartDlssProbe(folder);
    while (g_dlssProbe.state.load() != 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    JoinDlssProbe();
    EXPECT_TRUE(g_dlssProbe.available);
    EXPECT_EQ(g_dlssProbe.gpu, "Stand-in RTX 4070");
    // A second start after the answer does nothing either: there is no retry.
    fs::remove(m_record);
    StartDlssProbe(folder);
    EXPECT_EQ(g_dlssProbe.state.load(), 2);
    EXPECT_FALSE(g_dlssProbe.thread.joinable());
    EXPECT_FALSE(fs::exists(m_record));
    ExpectTemporaryFolderClean();
}

// A result file of an earlier installer with the same process id is not taken
// for the answer of a child that wrote none.
TEST_F(GpuProbe, StaleResultFileIsIgnored) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "crash");
    MakePayload(STANDIN_MODULE);
    const fs::path stale = m_tmp / ("VelkorRecomp_dlss_probe_" + std::to_string(getpid()) + ".txt");
    WriteFile(stale, "1\nOld RTX\nDLSS available\n");
    StartGpuCheck();
    WaitForDecision();
    EXPECT_FALSE(g_inst.dlss);
    EXPECT_EQ(g_dlssProbe.reason, "the check crashed (code 134)");
    EXPECT_EQ(g_dlssProbe.gpu, "");
    ExpectTemporaryFolderClean();
}
