// The setup script runner: folder layout, process start, output reader and
// the "@@" line protocol.
#include "launcher/setup_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "launcher/installer.h"
#include "runtime/paths.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t READ_CHUNK = 4096;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "status name | path" of "@@prereq " and "@@pypkg ".
Prereq ParsePrereq(const std::string& rest) {
    Prereq item;
    const size_t space = rest.find(' ');
    const std::string status = rest.substr(0, space);
    item.ok = StartsWith(status, "ok");
    if (space == std::string::npos) return item;
    const std::string tail = rest.substr(space + 1);
    const size_t bar = tail.find(" | ");
    item.name = tail.substr(0, bar);
    if (bar != std::string::npos) item.path = tail.substr(bar + 3);
    return item;
}

void HandleDownload(const std::string& rest) {
    const size_t last = rest.rfind(' ');
    if (last == std::string::npos || last == 0) return;
    const size_t before = rest.rfind(' ', last - 1);
    if (before == std::string::npos) return;
    const std::string label = rest.substr(0, before);
    const double done = std::strtod(rest.substr(before + 1, last - before - 1).c_str(), nullptr);
    const double total = std::strtod(rest.substr(last + 1).c_str(), nullptr);
    if (!(total > 0)) return;
    g_inst.progress = static_cast<float>(done / total);
    char text[512];
    std::snprintf(text, sizeof text, "%s  %.0f / %.0f MB", label.c_str(), done / 1048576.0, total / 1048576.0);
    g_inst.download = text;
}

// Reads the script's output until the pipe closes, then waits for the process.
void ReadOutput(int fd, pid_t pid) {
    std::string pending;
    char chunk[READ_CHUNK];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        size_t feed;
        while ((feed = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, feed);
            pending.erase(0, feed + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            HandleLine(line);
        }
    }
    close(fd);
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    if (!pending.empty()) HandleLine(pending);
    if (waited < 0) {
        g_inst.exitCode = 127;
    } else if (WIFSIGNALED(status)) {
        g_inst.exitCode = 128 + WTERMSIG(status);
    } else {
        g_inst.exitCode = WEXITSTATUS(status);
    }
    g_inst.processDone = true;
}

} // namespace

fs::path Root() {
    return g_inst.bundle ? g_inst.installDir / "VelkorRecomp" : paths::ExeDir();
}

fs::path PlayDir() {
    return g_inst.bundle ? g_inst.installDir : paths::ExeDir() / "dist";
}

fs::path SetupLog() {
    return g_inst.bundle ? g_inst.installDir / "setup.log" : paths::ExeDir() / "setup.log";
}

fs::path SetupScript() {
    return Root() / "tools" / "setup.py";
}

fs::path BundledPython() {
    return Root() / "toolchain" / "python" / "bin" / "python3";
}

std::vector<std::string> SplitArgs(const std::string& line) {
    std::vector<std::string> items;
    std::string item;
    bool quoted = false;
    bool any = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        // Inside quotes a backslash keeps a following quote or backslash
        // literally, so any folder name survives the round trip.
        if (quoted && c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
            item += line[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (!item.empty() || any) items.push_back(item);
            item.clear();
            any = false;
            quoted = false;
        } else {
            item += c;
        }
    }
    if (!item.empty() || any) items.push_back(item);
    return items;
}

std::wstring ToolchainArg() {
    if (!g_inst.toolchainChosen) return {};
    return L" --toolchain " + plat::WidenUtf8(g_inst.toolchain);
}

std::wstring FindPython() {
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = path.find(':', start);
        const std::string element = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const fs::path candidate = fs::path(element) / "python3";
        if (access(candidate.c_str(), X_OK) == 0) return plat::WidenUtf8(candidate.string());
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

pid_t Spawn(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd, int output,
            bool group) {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls run in the child.
    const std::string exeText = exe.string();
    const std::string cwdText = cwd.string();
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(exeText.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        if (group) setpgid(0, 0);
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        if (!cwdText.empty() && chdir(cwdText.c_str()) != 0) _exit(127);
        execv(exeText.c_str(), argv.data());
        _exit(127);
    }
    // Also set the group from this side, so that a signal to the group sent
    // right after this call already reaches the child.
    if (group) setpgid(pid, pid);
    return pid;
}

bool StartSetup(const std::wstring& args, bool check) {
    if (g_inst.reader.joinable()) g_inst.reader.join();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;

    std::vector<std::string> argv{"-u", SetupScript().string()};
    for (std::string& item : SplitArgs(plat::NarrowUtf8(args))) argv.push_back(std::move(item));
    plat::SetEnvironment("PYTHONUTF8", "1");
    plat::SetEnvironment("PYTHONIOENCODING", "utf-8");
    plat::SetEnvironment("PYTHONDONTWRITEBYTECODE", "1");
    plat::SetEnvironment("PYTHONHOME", nullptr);
    plat::SetEnvironment("PYTHONPATH", nullptr);

    const pid_t pid = Spawn(fs::path(plat::NarrowUtf8(g_inst.python)), argv, Root(), fds[1], true);
    close(fds[1]);
    if (pid == 0) {
        close(fds[0]);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.process = pid;
        g_inst.processDone = false;
        g_inst.cancelled = false;
        g_inst.error.clear();
        g_inst.hint.clear();
        if (check) {
            g_inst.prereqs.clear();
            g_inst.packages.clear();
        } else {
            if (!g_inst.bundle) g_inst.log.clear();
            g_inst.step = 0;
            g_inst.progress = -1.0f;
            g_inst.download.clear();
            if (!g_inst.logFile) g_inst.logFile = std::fopen(SetupLog().c_str(), "w");
        }
    }
    g_inst.reader = std::thread(ReadOutput, fds[0], pid);
    return true;
}

void HandleLine(const std::string& line) {
    if (g_inst.logFile) {
        std::fputs(line.c_str(), g_inst.logFile);
        std::fputc('\n', g_inst.logFile);
        std::fflush(g_inst.logFile);
    }
    if (!StartsWith(line, "@@")) {
        AddLogLine(line);
        return;
    }
    auto rest = [&line](const char* marker) { return line.substr(std::strlen(marker)); };
    if (StartsWith(line, "@@step ")) {
        g_inst.step = std::atoi(rest("@@step ").c_str());
        const size_t bar = line.find(" | ");
        g_inst.stepDetail = bar == std::string::npos ? std::string() : line.substr(bar + 3);
        g_inst.progress = -1.0f;
        g_inst.download.clear();
    } else if (StartsWith(line, "@@progress ")) {
        g_inst.progress = static_cast<float>(std::strtod(rest("@@progress ").c_str(), nullptr));
        g_inst.download.clear();
    } else if (StartsWith(line, "@@download ")) {
        HandleDownload(rest("@@download "));
    } else if (StartsWith(line, "@@prereq ")) {
        g_inst.prereqs.push_back(ParsePrereq(rest("@@prereq ")));
    } else if (StartsWith(line, "@@pypkg ")) {
        g_inst.packages.push_back(ParsePrereq(rest("@@pypkg ")));
    } else if (StartsWith(line, "@@toolchain ")) {
        if (!g_inst.toolchainChosen) g_inst.toolchain = rest("@@toolchain ");
    } else if (StartsWith(line, "@@error ")) {
        g_inst.error = rest("@@error ");
    } else if (StartsWith(line, "@@hint ")) {
        g_inst.hint = rest("@@hint ");
    } else if (StartsWith(line, "@@game-ready ")) {
        g_inst.gameReady = true;
        g_inst.finishedDir = rest("@@game-ready ");
    } else if (StartsWith(line, "@@finished ")) {
        g_inst.finishedDir = rest("@@finished ");
    }
}
