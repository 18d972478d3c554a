// The threads of the DLSS check: the GPU-check thread, the probe thread and
// the main thread that polls the answer and shuts down. Run under
// ThreadSanitizer (-DVELKOR_TSAN=ON) these scenes must stay free of reports.
#include "tests/support/files.h"

#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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

// The GPU detection sees an NVIDIA GPU through the stand-in Vulkan loader.
const bool g_standinVulkan = RestartWithStandinVulkan(VELKOR_VULKAN_STANDIN_DIR);

// Process ids of the stand-in module's calls, in order.
std::vector<pid_t> ProbeCalls(const fs::path& record) {
    std::vector<pid_t> pids;
    std::istringstream in(ReadFile(record));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("pid ", 0) == 0) pids.push_back(static_cast<pid_t>(std::stoi(line.substr(4))));
    }
    return pids;
}

bool ProcessGone(pid_t pid) {
    errno = 0;
    return kill(pid, 0) == -1 && errno == ESRCH;
}

// Waits (bounded, so that a fault fails instead of hanging) until `done` holds.
template <class Condition>
bool Eventually(Condition done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

const fs::path STANDIN_MODULE = fs::path(VELKOR_DLSS_STANDIN_DIR) / "libVelkorDlss.so";

class GpuThreads : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        std::string parent = base && *base ? base : "/tmp";
        std::error_code ec;
        fs::create_directories(parent, ec);
        std::string pattern = parent + "/gpu_threads_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_work = pattern;
        m_tmp = m_work / "tmp";
        fs::create_directories(m_tmp);
        m_record = m_work / "probe-calls.txt";
        m_env.emplace_back(std::make_unique<ScopedEnv>("TMPDIR", m_tmp.c_str()));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_DLSS_STANDIN_LOG", m_record.c_str()));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_GPU_VENDOR", nullptr));
        m_env.emplace_back(std::make_unique<ScopedEnv>("VELKOR_VULKAN_DEVICE", nullptr));
        m_env.emplace_back(
            std::make_unique<ScopedEnv>("VELKOR_STANDIN_GPUS", "10de|discrete|1.3|NVIDIA GeForce RTX 4070"));
        ASSERT_TRUE(g_standinVulkan) << "the stand-in Vulkan loader is not in use";
        ResetDlssProbeForTests();
        SetDlssProbeSeamForTests(DlssProbeSeam{VELKOR_LAUNCHER_BIN, DLSS_PROBE_POLLS});
        g_inst.gpu = GpuInfo{};
        g_inst.gpuKnown = false;
        g_inst.dlss = false;
        g_inst.probeDir.clear();

        // A payload whose "dlss" component holds the stand-in module.
        const fs::path root = m_work / "payload";
        const fs::path module = root / DLSS_MODULE_DIR / "libVelkorDlss.so";
        fs::create_directories(module.parent_path());
        fs::copy_file(STANDIN_MODULE, module);
        std::ofstream(root / PAYLOAD_INDEX) << "file dlss " << fs::file_size(module) << " " << DLSS_MODULE_DIR
                                            << "/libVelkorDlss.so\n";
        ASSERT_TRUE(ReadPayloadIndex(root, g_payload));
    }

    void TearDown() override {
        ResetDlssProbeForTests(); // waits for detached workers
        SetDlssProbeSeamForTests(DlssProbeSeam{});
        g_payload = Payload{};
        while (!m_env.empty()) m_env.pop_back();
        std::error_code ec;
        fs::remove_all(m_work, ec);
    }

    fs::path m_work, m_tmp, m_record;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

} // namespace

// The screen polls every frame while the workers run; it reads the answer
// only after the state says it is complete.
TEST_F(GpuThreads, AnswerIsPublishedToThePollingScreen) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "available");
    StartGpuCheck();
    ASSERT_TRUE(Eventually([] {
        UpdateGpuCheck();
        return g_inst.gpuKnown;
    }));
    EXPECT_TRUE(g_inst.dlss);
    EXPECT_EQ(g_inst.gpu.name, "Stand-in RTX 4070");
    EXPECT_FALSE(g_dlssProbe.thread.joinable());
    EXPECT_EQ(ProbeCalls(m_record).size(), 1u);
}

// Several threads asking for the probe at once start one child.
TEST_F(GpuThreads, ConcurrentStartsRunOneProbe) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "available");
    const fs::path folder = g_payload.root / DLSS_MODULE_DIR;
    std::atomic<bool> go{false};
    std::vector<std::thread> starters;
    for (int i = 0; i < 4; ++i) {
        starters.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            StartDlssProbe(folder);
        });
    }
    go.store(true);
    for (std::thread& t : starters) t.join();
    ASSERT_TRUE(Eventually([] { return g_dlssProbe.state.load() == 2; }));
    JoinDlssProbe();
    EXPECT_TRUE(g_dlssProbe.available);
    EXPECT_EQ(ProbeCalls(m_record).size(), 1u);
}

// Shutdown after the answer joins the probe thread.
TEST_F(GpuThreads, ShutdownJoinsAFinishedProbe) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "unavailable");
    StartGpuCheck();
    ASSERT_TRUE(Eventually([] { return g_dlssProbe.state.load() == 2; }));
    ShutdownDlssProbe();
    EXPECT_FALSE(g_dlssProbe.thread.joinable());
    EXPECT_EQ(g_dlssProbe.reason, "no NVIDIA GPU");
}

// Shutdown while the child hangs does not wait for the time limit: the child
// is killed, the thread detached, nothing more is published, and the probe
// folder does not stay behind.
TEST_F(GpuThreads, ShutdownAbandonsAHangingProbe) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "hang");
    StartGpuCheck();
    const fs::path probeDir = g_inst.probeDir;
    ASSERT_TRUE(Eventually([&] { return !ProbeCalls(m_record).empty(); })); // the child is inside the probe
    const pid_t child = ProbeCalls(m_record).front();

    ShutdownDlssProbe();
    EXPECT_FALSE(g_dlssProbe.thread.joinable());
    EXPECT_TRUE(Eventually([&] { return ProcessGone(child); }));

    ResetDlssProbeForTests(); // returns once the detached workers have ended
    EXPECT_EQ(g_dlssProbe.state.load(), 0);
    EXPECT_FALSE(fs::exists(probeDir));
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(m_tmp, ec)) << "the temporary folder is not clean";
}

// Shutdown at any moment of the check (extraction, start of the child,
// waiting) leaves the same: no answer published, no child, no probe folder.
TEST_F(GpuThreads, ShutdownAtAnyMomentLeavesNothing) {
    ScopedEnv mode("VELKOR_DLSS_STANDIN", "hang");
    for (int delayMs : {0, 1, 3, 10, 30}) {
        SCOPED_TRACE(delayMs);
        ResetDlssProbeForTests();
        g_inst.gpuKnown = false;
        std::error_code ec;
        fs::remove(m_record, ec);
        StartGpuCheck();
        const fs::path probeDir = g_inst.probeDir;
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ShutdownDlssProbe();
        UpdateGpuCheck();
        ResetDlssProbeForTests();
        EXPECT_FALSE(g_inst.gpuKnown);
        for (pid_t pid : ProbeCalls(m_record)) EXPECT_TRUE(Eventually([&] { return ProcessGone(pid); }));
        EXPECT_FALSE(fs::exists(probeDir));
        EXPECT_TRUE(fs::is_empty(m_tmp, ec)) << "the temporary folder is not clean";
    }
}
