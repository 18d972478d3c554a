// Process-level services on Linux: dynamic libraries, the running program,
// child processes, environment variables and dialogs through zenity/kdialog.
#include "runtime/platform/platform.h"

#include <dlfcn.h>
#include <signal.h>
#include <strings.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

namespace plat {
namespace {

thread_local std::string t_dlError;

uint64_t MonotonicMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void SleepMs(uint64_t ms) {
    timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// True when the shell finds `name` as a command.
bool HasTool(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One shell word holding exactly `text`.
std::string ShellQuote(const char* text) {
    std::string quoted = "'";
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '\'')
            quoted += "'\\''";
        else
            quoted += *p;
    }
    quoted += '\'';
    return quoted;
}

void RunIgnoringStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    (void)status;
}

} // namespace

void* OpenLibrary(const std::filesystem::path& path) {
    if (!path.has_parent_path()) {
        // A bare name: a copy next to the program wins over the system's.
        const std::filesystem::path exe = ExecutablePath();
        if (!exe.empty()) {
            const std::filesystem::path candidate = exe.parent_path() / path;
            std::error_code ec;
            if (std::filesystem::exists(candidate, ec) && !ec) {
                if (void* handle = dlopen(candidate.c_str(), RTLD_NOW)) return handle;
                dlerror(); // only the last attempt's reason is kept
            }
        }
    }
    if (void* handle = dlopen(path.c_str(), RTLD_NOW)) return handle;
    const char* reason = dlerror();
    t_dlError = reason && *reason ? reason : "dlopen failed";
    return nullptr;
}

void* FindSymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

void CloseLibrary(void* library) {
    if (library) dlclose(library);
}

std::string LastErrorText() {
    if (!t_dlError.empty()) {
        std::string text;
        text.swap(t_dlError);
        return text;
    }
    return std::strerror(errno);
}

std::string LibraryFileVersion(const std::filesystem::path&) { return {}; }

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return path;
}

uint32_t CurrentProcessId() { return uint32_t(getpid()); }

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> arguments;
    std::FILE* file = std::fopen("/proc/self/cmdline", "rb");
    if (!file) return arguments;
    std::string current;
    bool first = true;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c != 0) {
            current += char(c);
            continue;
        }
        if (!first) arguments.push_back(current);
        first = false;
        current.clear();
    }
    std::fclose(file);
    return arguments;
}

uint32_t StartSelf(const std::vector<std::string>& arguments) {
    const std::filesystem::path exe = ExecutablePath();
    if (exe.empty()) return 0;
    // Everything the child needs is built before fork: a child of a threaded
    // process may not allocate.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    return uint32_t(pid);
}

bool WaitForProcessExit(uint32_t pid, uint32_t timeoutMs) {
    if (pid == 0) return true;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        // A child of ours that has ended stays a zombie (and answers the probe
        // below) until it is collected.
        int status = 0;
        if (waitpid(pid_t(pid), &status, WNOHANG) == pid_t(pid)) return true;
        if (kill(pid_t(pid), 0) != 0 && errno != EPERM) return true;
        const uint64_t now = MonotonicMs();
        if (now >= deadline) return false;
        SleepMs(deadline - now < 20 ? deadline - now : 20);
    }
}

void SetEnvironment(const char* name, const char* value) {
    if (!name) return;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool DisablePowerThrottling() { return true; }

int CompareNoCase(const char* a, const char* b) { return strcasecmp(a ? a : "", b ? b : ""); }

void ExitProcess(uint32_t exitCode) {
    std::fflush(nullptr);
    _exit(int(exitCode));
}

std::filesystem::path PickFolder(const char* title, void*) {
    std::string command;
    if (HasTool("zenity"))
        command = "zenity --file-selection --directory --title=" + ShellQuote(title) + " 2>/dev/null";
    else if (HasTool("kdialog"))
        command = "kdialog --getexistingdirectory ~ --title " + ShellQuote(title) + " 2>/dev/null";
    else
        return {};

    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string output;
    char piece[512];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, pipe)) > 0) output.append(piece, got);
    pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return std::filesystem::path(output);
}

void ShowMessageBox(const char* title, const char* text, MessageKind kind, void*) {
    const char* word = "info";
    const char* zenityOption = "--info";
    const char* kdialogOption = "--msgbox ";
    if (kind == MessageKind::Warning) {
        word = "warning";
        zenityOption = "--warning";
        kdialogOption = "--sorry ";
    } else if (kind == MessageKind::Error) {
        word = "error";
        zenityOption = "--error";
        kdialogOption = "--error ";
    }
    std::fprintf(stderr, "[%s] %s: %s\n", word, title ? title : "", text ? text : "");

    if (HasTool("zenity")) {
        RunIgnoringStatus(std::string("zenity ") + zenityOption + " --title=" + ShellQuote(title) +
                          " --text=" + ShellQuote(text) + " >/dev/null 2>&1");
    } else if (HasTool("kdialog")) {
        RunIgnoringStatus(std::string("kdialog ") + kdialogOption + ShellQuote(text) + " --title " +
                          ShellQuote(title) + " >/dev/null 2>&1");
    }
}

} // namespace plat
