#include "launcher/gpu_detect.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

#include "runtime/platform/platform.h"
#include "runtime/settings/gpu_vendor.h"

namespace {

constexpr uint32_t API_VERSION_1_3 = 0x403000; // VK_MAKE_API_VERSION(0, 1, 3, 0)

// The library handle, closed on every path out of the detection.
struct Library {
    void* handle = nullptr;
    explicit Library(const char* name) : handle(plat::OpenLibrary(name)) {}
    ~Library() {
        if (handle) plat::CloseLibrary(handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

int DeviceScore(const VkPhysicalDeviceProperties& props, const char* preference) {
    int score = 1;
    if (props.deviceType == VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU) score = 3;
    else if (props.deviceType == VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU) score = 2;
    if (preference && std::strstr(props.deviceName, preference)) score += 10;
    return score;
}

void PickDevice(VkInstance instance, PFN_vkGetInstanceProcAddr getProc, GpuInfo& info) {
    auto enumerate = reinterpret_cast<PFN_vkEnumeratePhysicalDevices>(
        getProc(instance, "vkEnumeratePhysicalDevices"));
    auto properties = reinterpret_cast<PFN_vkGetPhysicalDeviceProperties>(
        getProc(instance, "vkGetPhysicalDeviceProperties"));
    if (!enumerate || !properties) return;

    uint32_t count = 0;
    if (enumerate(instance, &count, nullptr) < 0 || count == 0) return;
    std::vector<VkPhysicalDevice> devices(count);
    VkResult listed = enumerate(instance, &count, devices.data());
    if (listed < 0) return;
    devices.resize(count < devices.size() ? count : devices.size());

    const char* preference = std::getenv("VELKOR_VULKAN_DEVICE");
    int best = -1;
    for (VkPhysicalDevice device : devices) {
        VkPhysicalDeviceProperties props{};
        properties(device, &props);
        // A driver is trusted to terminate the name, but never read past the field.
        props.deviceName[VK_MAX_PHYSICAL_DEVICE_NAME_SIZE - 1] = '\0';
        if (props.apiVersion < API_VERSION_1_3) continue;
        int score = DeviceScore(props, preference);
        if (score > best) {
            best = score;
            info.vendor = props.vendorID;
            info.name = props.deviceName;
        }
    }
}

} // namespace

GpuInfo DetectGpu() {
    GpuInfo info;
    {
        Library vulkan("libvulkan.so.1");
        PFN_vkGetInstanceProcAddr getProc = nullptr;
        PFN_vkCreateInstance createInstance = nullptr;
        if (vulkan.handle) {
            getProc = reinterpret_cast<PFN_vkGetInstanceProcAddr>(
                plat::FindSymbol(vulkan.handle, "vkGetInstanceProcAddr"));
        }
        if (getProc) {
            createInstance = reinterpret_cast<PFN_vkCreateInstance>(getProc(nullptr, "vkCreateInstance"));
        }
        if (createInstance) {
            VkApplicationInfo app{};
            app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
            app.pApplicationName = "VelkorRecomp GPU check";
            app.applicationVersion = 0;
            app.pEngineName = nullptr;
            app.engineVersion = 0;
            app.apiVersion = API_VERSION_1_3;
            VkInstanceCreateInfo create{};
            create.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
            create.pApplicationInfo = &app;
            VkInstance instance = VK_NULL_HANDLE;
            if (createInstance(&create, nullptr, &instance) == VK_SUCCESS && instance) {
                auto destroy = reinterpret_cast<PFN_vkDestroyInstance>(getProc(instance, "vkDestroyInstance"));
                PickDevice(instance, getProc, info);
                if (destroy) destroy(instance, nullptr);
            }
        }
    }
    if (uint32_t forced = settings::ForcedGpuVendor()) {
        info.vendor = forced;
        info.forced = true;
    }
    return info;
}

std::string GpuReportLine(const GpuInfo& gpu) {
    std::string line = "[setup] GPU ";
    line += gpu.name.empty() ? "?" : gpu.name;
    line += " (";
    line += settings::GpuVendorName(gpu.vendor);
    if (gpu.forced) line += ", VELKOR_GPU_VENDOR";
    line += ")";
    return line;
}
