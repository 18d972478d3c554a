/* A stand-in for the Vulkan loader (built as libvulkan.so.1 in a folder of its
 * own) for the GPU detection tests. It knows only what the detection asks for:
 * vkGetInstanceProcAddr, vkCreateInstance, vkEnumeratePhysicalDevices,
 * vkGetPhysicalDeviceProperties and vkDestroyInstance.
 *
 * Environment:
 *   VELKOR_STANDIN_GPUS  the devices, separated by ';', each
 *                        "<vendor hex>|<type>|<api>|<name>" where type is
 *                        discrete, integrated, virtual, cpu or other and api is
 *                        "1.2", "1.3" or "1.4". Unset or empty: no device.
 *   VELKOR_STANDIN_FAIL  "instance": vkCreateInstance fails.
 *   VELKOR_STANDIN_LOG   a file that receives one line per call of interest:
 *                        "create <application name>|<api version hex>|<layers>|<extensions>"
 *                        and "destroy".
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

#define STANDIN_MAX_GPUS 8

struct StandinGpu {
    VkPhysicalDeviceProperties props;
};

static struct StandinGpu g_gpus[STANDIN_MAX_GPUS];
static uint32_t g_gpuCount;
/* Dispatchable handles only need to be distinct, non-null pointers. */
static int g_instanceObject;

static void Record(const char* line) {
    const char* path = getenv("VELKOR_STANDIN_LOG");
    if (!path || !*path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    fprintf(f, "%s\n", line);
    fclose(f);
}

static VkPhysicalDeviceType ParseType(const char* text) {
    if (strcmp(text, "discrete") == 0) return VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU;
    if (strcmp(text, "integrated") == 0) return VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU;
    if (strcmp(text, "virtual") == 0) return VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU;
    if (strcmp(text, "cpu") == 0) return VK_PHYSICAL_DEVICE_TYPE_CPU;
    return VK_PHYSICAL_DEVICE_TYPE_OTHER;
}

static uint32_t ParseApi(const char* text) {
    if (strcmp(text, "1.2") == 0) return VK_MAKE_API_VERSION(0, 1, 2, 203);
    if (strcmp(text, "1.4") == 0) return VK_MAKE_API_VERSION(0, 1, 4, 300);
    return VK_MAKE_API_VERSION(0, 1, 3, 250);
}

static void LoadGpus(void) {
    g_gpuCount = 0;
    const char* gpuList = getenv("VELKOR_STANDIN_GPUS");
    if (!gpuList) return;
    char* copy = strdup(gpuList);
    if (!copy) return;
    char* save = NULL;
    for (char* entry = strtok_r(copy, ";", &save); entry && g_gpuCount < STANDIN_MAX_GPUS;
         entry = strtok_r(NULL, ";", &save)) {
        char* fields[4] = {0};
        char* rest = entry;
        for (int i = 0; i < 3; ++i) {
            char* bar = strchr(rest, '|');
            if (!bar) break;
            *bar = '\0';
            fields[i] = rest;
            rest = bar + 1;
        }
        if (!fields[2]) continue;
        fields[3] = rest;
        struct StandinGpu* gpu = &g_gpus[g_gpuCount++];
        memset(gpu, 0, sizeof *gpu);
        gpu->props.vendorID = (uint32_t)strtoul(fields[0], NULL, 16);
        gpu->props.deviceType = ParseType(fields[1]);
        gpu->props.apiVersion = ParseApi(fields[2]);
        gpu->props.driverVersion = 1;
        gpu->props.deviceID = g_gpuCount;
        snprintf(gpu->props.deviceName, sizeof gpu->props.deviceName, "%s", fields[3]);
    }
    free(copy);
}

static VKAPI_ATTR VkResult VKAPI_CALL StandinCreateInstance(const VkInstanceCreateInfo* info,
                                                            const VkAllocationCallbacks* allocator,
                                                            VkInstance* instance) {
    (void)allocator;
    char line[512];
    const VkApplicationInfo* app = info ? info->pApplicationInfo : NULL;
    snprintf(line, sizeof line, "create %s|%x|%u|%u",
             app && app->pApplicationName ? app->pApplicationName : "",
             app ? app->apiVersion : 0u, info ? info->enabledLayerCount : 0u,
             info ? info->enabledExtensionCount : 0u);
    Record(line);
    const char* fail = getenv("VELKOR_STANDIN_FAIL");
    if (fail && strcmp(fail, "instance") == 0) return VK_ERROR_INCOMPATIBLE_DRIVER;
    LoadGpus();
    *instance = (VkInstance)(void*)&g_instanceObject;
    return VK_SUCCESS;
}

static VKAPI_ATTR void VKAPI_CALL StandinDestroyInstance(VkInstance instance,
                                                         const VkAllocationCallbacks* allocator) {
    (void)allocator;
    if (instance == (VkInstance)(void*)&g_instanceObject) Record("destroy");
}

static VKAPI_ATTR VkResult VKAPI_CALL StandinEnumeratePhysicalDevices(VkInstance instance, uint32_t* count,
                                                                      VkPhysicalDevice* devices) {
    (void)instance;
    if (!devices) {
        *count = g_gpuCount;
        return VK_SUCCESS;
    }
    uint32_t n = *count < g_gpuCount ? *count : g_gpuCount;
    for (uint32_t i = 0; i < n; ++i) devices[i] = (VkPhysicalDevice)(void*)&g_gpus[i];
    *count = n;
    return n < g_gpuCount ? VK_INCOMPLETE : VK_SUCCESS;
}

static VKAPI_ATTR void VKAPI_CALL StandinGetPhysicalDeviceProperties(VkPhysicalDevice device,
                                                                     VkPhysicalDeviceProperties* props) {
    *props = ((const struct StandinGpu*)(const void*)device)->props;
}

__attribute__((visibility("default"))) VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL
vkGetInstanceProcAddr(VkInstance instance, const char* name) {
    if (!name) return NULL;
    if (!instance) {
        if (strcmp(name, "vkCreateInstance") == 0) return (PFN_vkVoidFunction)StandinCreateInstance;
        return NULL;
    }
    if (strcmp(name, "vkDestroyInstance") == 0) return (PFN_vkVoidFunction)StandinDestroyInstance;
    if (strcmp(name, "vkEnumeratePhysicalDevices") == 0)
        return (PFN_vkVoidFunction)StandinEnumeratePhysicalDevices;
    if (strcmp(name, "vkGetPhysicalDeviceProperties") == 0)
        return (PFN_vkVoidFunction)StandinGetPhysicalDeviceProperties;
    return NULL;
}
