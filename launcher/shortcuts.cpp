// Desktop entries and the hand-over to the installed launcher or a restarted
// installer.
#include "launcher/shortcuts.h"

#include <SDL3/SDL_error.h>
#include <SDL3/SDL_misc.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <unistd.h>

#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/setup_script.h"
#include "runtime/log.h"
#include "runtime/platform/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t USER_DIRS_LINE = 1024;
constexpr const char DESKTOP_KEY[] = "XDG_DESKTOP_DIR=\"";

const char* const ENTRY_FORMAT =
    "[Desktop Entry]\nType=Application\nName=Velkor of the Ombrax - Lumenfall\nComment=%s\nExec=%s\nPath=%s\n"
    "Icon=%s\nTerminal=false\nCategories=Game;\nStartupWMClass=VelkorLauncher\n";

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string Home() {
    const char* home = std::getenv("HOME");
    return home ? home : "/tmp";
}

// fork and execv report a program that cannot be run only inside the child,
// which is created all the same; asking first keeps the installer open then.
pid_t StartProgram(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd) {
    if (::access(exe.c_str(), X_OK) != 0) {
        Log("[launcher] cannot start %s: %s", exe.c_str(), std::strerror(errno));
        return 0;
    }
    return Spawn(exe, args, cwd, -1, false);
}

fs::path EnvFolder(const char* name, const fs::path& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fallback;
}

} // namespace

std::string DesktopStringValue(const std::string& text) {
    std::string value;
    value.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return value;
}

std::string DesktopExecValue(const fs::path& target) {
    // The Desktop Entry quoting rule: inside double quotes, a backslash goes
    // before a double quote, dollar sign, backquote or backslash. The Exec
    // value is a key-file string as well, whose own escapes are undone before
    // the quoting is read, so every backslash is written twice; and "%"
    // starts a field code unless doubled.
    std::string command = "\"";
    for (const char c : target.string()) {
        if (c == '"' || c == '$' || c == '\\' || c == '`') command += '\\';
        if (c == '%') command += '%';
        command += c;
    }
    command += '"';
    return DesktopStringValue(command);
}

void CreateShortcut(const fs::path& file, const fs::path& target, const std::string& description) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    FilePtr out(std::fopen(file.c_str(), "wb"));
    if (!out) {
        Log("[setup] shortcut %s: %s", file.c_str(), "failed");
        return;
    }
    const fs::path folder = target.parent_path();
    std::fprintf(out.get(), ENTRY_FORMAT, DesktopStringValue(description).c_str(), DesktopExecValue(target).c_str(),
                 DesktopStringValue(folder.string()).c_str(),
                 DesktopStringValue((folder / "VelkorRecomp" / "velkorrecomp.png").string()).c_str());
    out.reset();
    fs::permissions(file, fs::perms(0755), fs::perm_options::replace, ec);
    Log("[setup] shortcut %s: %s", file.c_str(), "ok");
}

fs::path DesktopFolder() {
    const std::string home = Home();
    const fs::path dirs = EnvFolder("XDG_CONFIG_HOME", fs::path(home) / ".config") / "user-dirs.dirs";
    if (FilePtr in{std::fopen(dirs.c_str(), "rb")}) {
        const size_t keyLength = std::strlen(DESKTOP_KEY);
        char line[USER_DIRS_LINE];
        while (std::fgets(line, sizeof line, in.get())) {
            line[std::strcspn(line, "\r\n")] = '\0';
            if (std::strncmp(line, DESKTOP_KEY, keyLength) != 0) continue;
            std::string value = line + keyLength;
            const size_t quote = value.rfind('"');
            if (quote != std::string::npos) value.erase(quote);
            if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
            return fs::path(value);
        }
    }
    return fs::path(home) / "Desktop";
}

fs::path ApplicationsFolder() {
    return EnvFolder("XDG_DATA_HOME", fs::path(Home()) / ".local" / "share") / "applications";
}

void ApplyShortcuts() {
    if (!g_inst.bundle || g_inst.shortcutsDone || g_inst.phase != Phase::Done) return;
    g_inst.shortcutsDone = true;
    const fs::path target = PlayDir() / LAUNCHER_PROGRAM;
    if (g_inst.desktopShortcut) CreateShortcut(DesktopFolder() / SHORTCUT_FILE, target, SHORTCUT_DESCRIPTION);
    if (g_inst.startMenu) CreateShortcut(ApplicationsFolder() / SHORTCUT_FILE, target, SHORTCUT_DESCRIPTION);
}

void OpenLauncher() {
    ApplyShortcuts();
    fs::path dir;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        dir = g_inst.finishedDir;
    }
    if (dir.empty()) dir = PlayDir();
    if (StartProgram(dir / LAUNCHER_PROGRAM, {}, dir) != 0) RequestQuit();
}

void OpenFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    OpenWithDesktop(folder);
}

void OpenWithDesktop(const fs::path& path) {
    const std::string text = path.string();
    const std::string url = text.find("://") != std::string::npos ? text : "file://" + text;
    if (!SDL_OpenURL(url.c_str())) Log("[launcher] could not open %s: %s", url.c_str(), SDL_GetError());
}

std::vector<std::string> InstallerRelaunchArgs() {
    std::vector<std::string> args;
    if (g_inst.bundle) {
        args.push_back("--install-dir");
        args.push_back(g_inst.installDir.string());
    }
    args.push_back("--option");
    args.push_back(g_inst.subtitles ? "subtitles" : "no-subtitles");
    if (g_inst.remaster) {
        args.push_back("--option");
        args.push_back("remaster");
    }
    if (g_inst.extractAssets) {
        args.push_back("--option");
        args.push_back("assets");
    }
    if (g_inst.copyGame) {
        args.push_back("--option");
        args.push_back("copy");
    }
    if (!g_inst.shots.empty()) {
        args.push_back("--shots");
        args.push_back(g_inst.shots.string());
    }
    return args;
}

bool Relaunch() {
    std::vector<std::string> args = g_passArgs;
    const std::vector<std::string> choices = InstallerRelaunchArgs();
    args.insert(args.end(), choices.begin(), choices.end());
    const char* appImage = std::getenv("APPIMAGE");
    const fs::path exe = appImage && *appImage ? fs::path(appImage) : plat::ExecutablePath();
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (StartProgram(exe, args, cwd) == 0) return false;
    RequestQuit();
    return true;
}
