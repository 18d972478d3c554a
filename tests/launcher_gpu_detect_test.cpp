// GPU detection through the Vulkan loader: the vendor override, the scoring of
// the devices (against a stand-in libvulkan.so.1 that reports the devices a
// test asks for), and the real loader with Mesa's lavapipe compared with what
// vulkaninfo reports.
//
// The loader is looked up through LD_LIBRARY_PATH, which the dynamic linker
// reads only when a process starts, so every detection runs in a fresh copy
// of this test program (the disabled test GpuDetectChild.DISABLED_Detect)
// that writes its answer to a file.
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/gpu_detect.h"
#include "runtime/settings/gpu_vendor.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using testsupport::ScopedEnv;

using testsupport::ReadFile;
using testsupport::TempDir;

struct Detected {
    bool ran = false;
    uint32_t vendor = 0;
    std::string name;
    bool forced = false;
    std::string line;
};

// Variables of the calling environment that would change the detection.
const char* const CONTROLLED[] = {"LD_LIBRARY_PATH", "ASAN_OPTIONS", "VELKOR_GPU_VENDOR", "VELKOR_VULKAN_DEVICE",
                                  "VELKOR_STANDIN_GPUS", "VELKOR_STANDIN_FAIL", "VELKOR_STANDIN_LOG",
                                  "VELKOR_GPU_DETECT_RESULT"};

// Runs DetectGpu in a new copy of this program with `vars` added to the
// environment (and the variables above removed unless given).
Detected DetectInChild(const std::map<std::string, std::string>& vars, const fs::path& work) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool controlled = false;
        for (const char* name : CONTROLLED) {
            if (entry.compare(0, std::strlen(name) + 1, std::string(name) + "=") == 0) controlled = true;
        }
        if (!controlled) env.push_back(entry);
    }
    const fs::path result = work / "detected.txt";
    std::error_code ec;
    fs::remove(result, ec);
    env.push_back("VELKOR_GPU_DETECT_RESULT=" + result.string());
    for (const auto& [name, value] : vars) env.push_back(name + "=" + value);

    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    std::string filter = "--gtest_filter=GpuDetectChild.DISABLED_Detect";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    Detected detected;
    int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return detected;
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "detection child status " << status;

    std::ifstream in(result);
    std::string vendor, forced;
    if (!std::getline(in, vendor) || !std::getline(in, detected.name) || !std::getline(in, forced) ||
        !std::getline(in, detected.line)) {
        return detected;
    }
    detected.ran = true;
    detected.vendor = static_cast<uint32_t>(std::stoul(vendor));
    detected.forced = forced == "1";
    return detected;
}

const std::string INTEL_IGPU = "8086|integrated|1.3|Intel(R) UHD Graphics 770";
const std::string NVIDIA_DGPU = "10de|discrete|1.3|NVIDIA GeForce RTX 4070";

} // namespace

// Runs only inside DetectInChild.
TEST(GpuDetectChild, DISABLED_Detect) {
    const char* result = std::getenv("VELKOR_GPU_DETECT_RESULT");
    if (!result) GTEST_SKIP() << "runs only as the detection child";
    GpuInfo gpu = DetectGpu();
    std::ofstream out(result);
    out << gpu.vendor << "\n" << gpu.name << "\n" << (gpu.forced ? 1 : 0) << "\n" << GpuReportLine(gpu) << "\n";
}

TEST(GpuVendor, OverrideFromTheEnvironment) {
    struct Case {
        const char* value;
        uint32_t vendor;
    } cases[] = {
        {nullptr, 0},
        {"", 0},
        {"nvidia", settings::VENDOR_NVIDIA},
        {"NVIDIA", settings::VENDOR_NVIDIA},
        {"nVidia", settings::VENDOR_NVIDIA},
        {"10de", settings::VENDOR_NVIDIA},
        {"0x10DE", settings::VENDOR_NVIDIA},
        {"amd", settings::VENDOR_AMD},
        {"ATI", settings::VENDOR_AMD},
        {"Intel", settings::VENDOR_INTEL},
        {"8086", settings::VENDOR_INTEL},
        {"10de and more", settings::VENDOR_NVIDIA}, // parsing stops at the first non-hex character
        {"geforce", 0},                             // no hexadecimal number: no override
        {"nvidia ", 0},                             // names match exactly; 'n' is no hex digit
        {"0", 0},
    };
    for (const Case& c : cases) {
        ScopedEnv env("VELKOR_GPU_VENDOR", c.value);
        EXPECT_EQ(settings::ForcedGpuVendor(), c.vendor) << (c.value ? c.value : "(unset)");
    }
}

TEST(GpuVendor, Names) {
    EXPECT_STREQ(settings::GpuVendorName(0x10DE), "NVIDIA");
    EXPECT_STREQ(settings::GpuVendorName(0x1002), "AMD");
    EXPECT_STREQ(settings::GpuVendorName(0x8086), "Intel");
    EXPECT_STREQ(settings::GpuVendorName(0), "?");
    EXPECT_STREQ(settings::GpuVendorName(0x10005), "other");
}

TEST(GpuDetect, ReportLine) {
    EXPECT_EQ(GpuReportLine(GpuInfo{}), "[setup] GPU ? (?)");
    EXPECT_EQ(GpuReportLine(GpuInfo{0x10DE, "NVIDIA GeForce RTX 4070", false}),
              "[setup] GPU NVIDIA GeForce RTX 4070 (NVIDIA)");
    EXPECT_EQ(GpuReportLine(GpuInfo{0x10DE, "", true}), "[setup] GPU ? (NVIDIA, VELKOR_GPU_VENDOR)");
    EXPECT_EQ(GpuReportLine(GpuInfo{0x1002, "Intel(R) UHD Graphics 770", true}),
              "[setup] GPU Intel(R) UHD Graphics 770 (AMD, VELKOR_GPU_VENDOR)");
}

// The choice among the devices a (stand-in) loader reports.
TEST(GpuDetect, ChoosesTheDeviceTheGameWouldUse) {
    TempDir work;
    ASSERT_FALSE(work.path().empty());
    struct Case {
        const char* what;
        std::string gpus;
        const char* preference; // VELKOR_VULKAN_DEVICE
        const char* forced;     // VELKOR_GPU_VENDOR
        uint32_t vendor;
        std::string name;
        bool isForced;
    } cases[] = {
        {"integrated Intel and discrete NVIDIA", INTEL_IGPU + ";" + NVIDIA_DGPU, nullptr, nullptr, 0x10DE,
         "NVIDIA GeForce RTX 4070", false},
        {"discrete NVIDIA first", NVIDIA_DGPU + ";" + INTEL_IGPU, nullptr, nullptr, 0x10DE,
         "NVIDIA GeForce RTX 4070", false},
        {"preference for the Intel device (10 + 2 beats 3)", INTEL_IGPU + ";" + NVIDIA_DGPU, "UHD", nullptr,
         0x8086, "Intel(R) UHD Graphics 770", false},
        {"preference is case-sensitive", INTEL_IGPU + ";" + NVIDIA_DGPU, "uhd", nullptr, 0x10DE,
         "NVIDIA GeForce RTX 4070", false},
        {"preference matching nothing", INTEL_IGPU + ";" + NVIDIA_DGPU, "Radeon", nullptr, 0x10DE,
         "NVIDIA GeForce RTX 4070", false},
        {"two identical discrete GPUs",
         "10de|discrete|1.3|NVIDIA RTX A4000;10de|discrete|1.3|NVIDIA RTX A4000", nullptr, nullptr, 0x10DE,
         "NVIDIA RTX A4000", false},
        {"equal scores keep the earlier device",
         "1002|discrete|1.3|AMD Radeon RX 7900 XT;10de|discrete|1.3|NVIDIA GeForce RTX 4070", nullptr, nullptr,
         0x1002, "AMD Radeon RX 7900 XT", false},
        {"a software device counts least", "10005|cpu|1.3|llvmpipe;8086|integrated|1.3|Intel(R) Arc", nullptr,
         nullptr, 0x8086, "Intel(R) Arc", false},
        {"a Vulkan 1.2 device is ignored", "10de|discrete|1.2|NVIDIA GeForce GTX 680;" + INTEL_IGPU, nullptr,
         nullptr, 0x8086, "Intel(R) UHD Graphics 770", false},
        {"even when it is preferred", "10de|discrete|1.2|NVIDIA GeForce GTX 680;" + INTEL_IGPU, "GTX", nullptr,
         0x8086, "Intel(R) UHD Graphics 770", false},
        {"a Vulkan 1.4 device counts", "10de|discrete|1.4|NVIDIA GeForce RTX 5090", nullptr, nullptr, 0x10DE,
         "NVIDIA GeForce RTX 5090", false},
        {"only a Vulkan 1.2 device", "10de|discrete|1.2|NVIDIA GeForce GTX 680", nullptr, nullptr, 0, "", false},
        {"no device", "", nullptr, nullptr, 0, "", false},
        {"forced vendor keeps the detected name", INTEL_IGPU, nullptr, "nvidia", 0x10DE,
         "Intel(R) UHD Graphics 770", true},
        {"forced vendor without any device", "", nullptr, "ati", 0x1002, "", true},
        {"a word is no override", INTEL_IGPU, nullptr, "geforce", 0x8086, "Intel(R) UHD Graphics 770", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path calls = work.path() / "calls.txt";
        std::error_code ec;
        fs::remove(calls, ec);
        std::map<std::string, std::string> vars = {{"LD_LIBRARY_PATH", VELKOR_VULKAN_STANDIN_DIR},
                                                   {"VELKOR_STANDIN_GPUS", c.gpus},
                                                   {"VELKOR_STANDIN_LOG", calls.string()}};
        if (c.preference) vars["VELKOR_VULKAN_DEVICE"] = c.preference;
        if (c.forced) vars["VELKOR_GPU_VENDOR"] = c.forced;
        Detected d = DetectInChild(vars, work.path());
        ASSERT_TRUE(d.ran);
        EXPECT_EQ(d.vendor, c.vendor);
        EXPECT_EQ(d.name, c.name);
        EXPECT_EQ(d.forced, c.isForced);
        // One instance, asked for Vulkan 1.3 without layers or extensions, and destroyed again.
        EXPECT_EQ(ReadFile(calls), "create VelkorRecomp GPU check|403000|0|0\ndestroy\n");
    }
}

TEST(GpuDetect, MissingPiecesGiveNoDevice) {
    TempDir work;
    ASSERT_FALSE(work.path().empty());
    const fs::path calls = work.path() / "calls.txt";

    // vkCreateInstance fails: no device, no instance to destroy; only the override still counts.
    Detected failed = DetectInChild({{"LD_LIBRARY_PATH", VELKOR_VULKAN_STANDIN_DIR},
                                     {"VELKOR_STANDIN_GPUS", NVIDIA_DGPU},
                                     {"VELKOR_STANDIN_FAIL", "instance"},
                                     {"VELKOR_STANDIN_LOG", calls.string()}},
                                    work.path());
    ASSERT_TRUE(failed.ran);
    EXPECT_EQ(failed.vendor, 0u);
    EXPECT_EQ(failed.name, "");
    EXPECT_EQ(failed.line, "[setup] GPU ? (?)");
    EXPECT_EQ(ReadFile(calls), "create VelkorRecomp GPU check|403000|0|0\n");

    Detected forced = DetectInChild({{"LD_LIBRARY_PATH", VELKOR_VULKAN_STANDIN_DIR},
                                     {"VELKOR_STANDIN_FAIL", "instance"},
                                     {"VELKOR_GPU_VENDOR", "NVIDIA"}},
                                    work.path());
    ASSERT_TRUE(forced.ran);
    EXPECT_EQ(forced.vendor, 0x10DEu);
    EXPECT_TRUE(forced.forced);
    EXPECT_EQ(forced.line, "[setup] GPU ? (NVIDIA, VELKOR_GPU_VENDOR)");

    // A libvulkan.so.1 without vkGetInstanceProcAddr (any other library under that name).
    const fs::path fake = work.path() / "fake_loader";
    fs::create_directories(fake);
    fs::create_symlink(fs::path(VELKOR_DLSS_NOPROBE_DIR) / "libVelkorDlss.so", fake / "libvulkan.so.1");
    Detected noEntry = DetectInChild({{"LD_LIBRARY_PATH", fake.string()}}, work.path());
    ASSERT_TRUE(noEntry.ran);
    EXPECT_EQ(noEntry.vendor, 0u);
    EXPECT_EQ(noEntry.line, "[setup] GPU ? (?)");
}

namespace {

struct VulkanInfoDevice {
    uint32_t vendor = 0;
    std::string name;
    uint32_t major = 0, minor = 0;
};

std::string Trim(const std::string& text) {
    size_t a = text.find_first_not_of(" \t");
    size_t b = text.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// The devices of `vulkaninfo --summary`; empty when it is missing or lists none.
std::vector<VulkanInfoDevice> VulkanInfoDevices() {
    std::vector<VulkanInfoDevice> devices;
    FILE* pipe = popen("env -u LD_LIBRARY_PATH vulkaninfo --summary 2>/dev/null", "r");
    if (!pipe) return devices;
    char buffer[1024];
    bool inDevices = false;
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line = Trim(buffer);
        if (line == "Devices:") inDevices = true;
        if (!inDevices) continue;
        if (line.rfind("GPU", 0) == 0 && line.back() == ':') devices.emplace_back();
        if (devices.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (key == "vendorID") devices.back().vendor = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
        if (key == "deviceName") devices.back().name = value;
        if (key == "apiVersion") {
            // "1.3.230", or "4206830 (1.3.230)" in older versions.
            size_t open = value.find('(');
            std::string version = open == std::string::npos ? value : value.substr(open + 1);
            std::sscanf(version.c_str(), "%u.%u", &devices.back().major, &devices.back().minor);
        }
    }
    pclose(pipe);
    return devices;
}

} // namespace

// The real loader and driver (Mesa's lavapipe here): the detection reports what
// vulkaninfo reports.
TEST(GpuDetect, RealVulkanMatchesVulkanInfo) {
    std::vector<VulkanInfoDevice> devices = VulkanInfoDevices();
    if (devices.empty()) GTEST_SKIP() << "vulkaninfo is not installed or reports no device";
    TempDir work;
    ASSERT_FALSE(work.path().empty());
    // Leak checking is off in this child only: Mesa's drivers leave a block
    // behind by themselves. The same detection code is leak-checked against
    // the stand-in loader above.
    const char* asan = std::getenv("ASAN_OPTIONS");
    Detected d = DetectInChild({{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}}, work.path());
    ASSERT_TRUE(d.ran);

    std::vector<const VulkanInfoDevice*> usable;
    for (const VulkanInfoDevice& device : devices) {
        if (device.major > 1 || (device.major == 1 && device.minor >= 3)) usable.push_back(&device);
    }
    if (usable.empty()) {
        EXPECT_EQ(d.vendor, 0u);
        EXPECT_EQ(d.name, "");
        return;
    }
    bool listed = false;
    for (const VulkanInfoDevice* device : usable) listed |= device->name == d.name && device->vendor == d.vendor;
    EXPECT_TRUE(listed) << d.name << " (" << std::hex << d.vendor << ") is not a Vulkan 1.3 device of vulkaninfo";
    if (usable.size() == 1) {
        EXPECT_EQ(d.name, usable[0]->name);
        EXPECT_EQ(d.vendor, usable[0]->vendor);
        EXPECT_EQ(d.line, "[setup] GPU " + usable[0]->name + " (" + settings::GpuVendorName(usable[0]->vendor) + ")");
    }
}
