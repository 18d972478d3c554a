// The log, and the hooks that the shared runtime code calls but that have no
// work to do in the installer.
#include "runtime/log.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "runtime/platform/platform.h"

namespace {

std::mutex g_logMutex;
FILE* g_log = nullptr;

FILE* OpenLog() {
    std::filesystem::path exe = plat::ExecutablePath();
    if (!exe.empty()) {
        if (FILE* f = std::fopen((exe.parent_path() / "VelkorSetup.log").c_str(), "w")) return f;
    }
    std::error_code ec;
    std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    if (!ec) {
        if (FILE* f = std::fopen((tmp / "VelkorSetup.log").c_str(), "w")) return f;
    }
    return nullptr;
}

} // namespace

void Log(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!g_log) g_log = OpenLog();
    if (!g_log) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fputc('\n', g_log);
    std::fflush(g_log);
}

namespace settings::prompts {
int Style() { return 0; }
bool Draw(char32_t, uint32_t, int, int, const uint32_t*, std::vector<uint32_t>&) { return false; }
} // namespace settings::prompts

namespace rcf_overlay {
void RegisterEntryRewrite(const std::string&, const std::string&, const std::string&, EntryPatcher) {}
} // namespace rcf_overlay
