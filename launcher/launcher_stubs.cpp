// The log, and the hooks that the shared runtime code calls but that have no
// work to do in the installer.
#include "runtime/log.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/platform.h"

namespace {

std::mutex g_logMutex;
FILE* g_log = nullptr;

// Opens (creating or emptying) the log at `path`. The descriptor is not
// inherited by child processes, a FIFO never blocks the opening, and only a
// regular file is accepted; in the shared temporary folder a symbolic link is
// refused too, so nobody can point the log at another file.
FILE* OpenLogAt(const std::filesystem::path& path, bool followLinks) {
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK;
    if (!followLinks) flags |= O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, "w");
    if (!f) ::close(fd);
    return f;
}

FILE* OpenLog() {
    std::filesystem::path exe = plat::ExecutablePath();
    if (!exe.empty()) {
        if (FILE* f = OpenLogAt(exe.parent_path() / "VelkorSetup.log", true)) return f;
    }
    std::error_code ec;
    std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    if (!ec) {
        if (FILE* f = OpenLogAt(tmp / "VelkorSetup.log", false)) return f;
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

// Sanitizer builds: what system libraries do on their own is not ours to
// report. fontconfig and D-Bus (which SDL uses on X11) keep a few allocations
// until the process ends; Mesa's software renderers run worker threads whose
// synchronisation ThreadSanitizer cannot see into.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

extern "C" const char* __tsan_default_suppressions() {
    // Only race and thread entries: a called_from_lib entry makes
    // ThreadSanitizer stop the process when the library is unloaded, as the
    // Vulkan driver is after the GPU check.
    return "race:swrast_dri.so\n"
           "thread:swrast_dri.so\n"
           "race:libvulkan_lvp.so\n"
           "thread:libvulkan_lvp.so\n"
           "race:libLLVM\n";
}
