#pragma once
// For tests whose whole process must see the stand-in Vulkan loader instead of
// the system's: the dynamic linker reads LD_LIBRARY_PATH only when a process
// starts, so the test program starts itself again with the stand-in's folder in
// front. Call it from a static initializer:
//   static const bool g_standin = RestartWithStandinVulkan(VELKOR_VULKAN_STANDIN_DIR);
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// True when the stand-in's folder already leads LD_LIBRARY_PATH; otherwise
// does not return unless the restart failed (then false).
inline bool RestartWithStandinVulkan(const char* folder) {
    const std::string lead = folder;
    const char* current = std::getenv("LD_LIBRARY_PATH");
    const std::string path = current ? current : "";
    if (path == lead || path.rfind(lead + ":", 0) == 0) return true;

    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (args.empty()) return false;
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string value = path.empty() ? lead : lead + ":" + path;
    setenv("LD_LIBRARY_PATH", value.c_str(), 1);
    execv("/proc/self/exe", argv.data());
    return false;
}
