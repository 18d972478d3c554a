// The installer program's spine: the command line, the run modes and the
// start-up sequence that runs before the window exists.
#include "launcher/launcher.h"


#include "launcher/dump.h"
#include "launcher/gpu_probe.h"
#include "launcher/installer.h"
#include "launcher/window.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/menu_art_fonts.h"

namespace fs = std::filesystem;

std::vector<std::string> g_commandLine;
std::vector<std::string> g_passArgs;
settings::Values g_values;

namespace {

// "--option <word>": the words are compared exactly; others are ignored.
void ApplyOption(const std::string& word, LaunchChoices& c) {
    struct Entry {
        const char* word;
        bool LaunchChoices::*field;
        bool value;
    };
    static const Entry OPTIONS[] = {
        {"subtitles", &LaunchChoices::subtitles, true},
        {"remaster", &LaunchChoices::remaster, true},
        {"assets", &LaunchChoices::extractAssets, true},
        {"copy", &LaunchChoices::copyGame, true},
        {"desktop", &LaunchChoices::desktopShortcut, true},
        {"startmenu", &LaunchChoices::startMenu, true},
        {"no-subtitles", &LaunchChoices::subtitles, false},
        {"no-desktop", &LaunchChoices::desktopShortcut, false},
        {"no-startmenu", &LaunchChoices::startMenu, false},
    };
    for (const Entry& e : OPTIONS) {
        if (word == e.word) {
            c.*e.field = e.value;
            return;
        }
    }
}

LaunchChoices ChoicesOf(const Installer& inst) {
    LaunchChoices c;
    c.autoStart = inst.autoStart;
    c.autoFinish = inst.autoFinish;
    c.subtitles = inst.subtitles;
    c.remaster = inst.remaster;
    c.extractAssets = inst.extractAssets;
    c.copyGame = inst.copyGame;
    c.desktopShortcut = inst.desktopShortcut;
    c.startMenu = inst.startMenu;
    return c;
}

void ApplyChoices(const LaunchChoices& c, Installer& inst) {
    inst.autoStart = c.autoStart;
    inst.autoFinish = c.autoFinish;
    inst.subtitles = c.subtitles;
    inst.remaster = c.remaster;
    inst.extractAssets = c.extractAssets;
    inst.copyGame = c.copyGame;
    inst.desktopShortcut = c.desktopShortcut;
    inst.startMenu = c.startMenu;
}

} // namespace

CommandLine ScanCommandLine(const std::vector<std::string>& arguments, const LaunchChoices& start) {
    CommandLine cl;
    cl.choices = start;
    if (arguments.size() == 4 && arguments[1] == "--probe-dlss") {
        cl.probe = true;
        cl.probeFolder = arguments[2];
        cl.probeResult = arguments[3];
        return cl;
    }

    cl.pathArgs.push_back(arguments.empty() ? std::string() : arguments[0]);
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--autostart") {
            cl.choices.autoStart = true;
        } else if (a == "--autofinish") {
            cl.choices.autoFinish = true;
        } else if (hasValue && a == "--screenshot") {
            cl.screenshot = arguments[++i];
        } else if (hasValue && (a == "--tab" || a == "--view" || a == "--install-dir" || a == "--shots")) {
            ++i; // --install-dir and --shots are taken from the command line by the installer state
        } else if (hasValue && a == "--option") {
            ApplyOption(arguments[++i], cl.choices);
        } else {
            cl.pathArgs.push_back(a);
        }
    }
    return cl;
}

bool ResolveGameFolder(std::vector<std::string>& pathArgs, bool autoStart, bool bundle, const fs::path& exeDir) {
    size_t game = 0; // index of the first "--game"; 0 when there is none
    for (size_t i = 1; i < pathArgs.size(); ++i) {
        if (pathArgs[i] == "--game") {
            game = i;
            break;
        }
    }

    if (game != 0) {
        if (game + 1 < pathArgs.size() && !autoStart && !CheckDump(fs::path(pathArgs[game + 1])).Ok()) {
            const fs::path chosen = AskForDump(nullptr);
            if (chosen.empty()) return false;
            pathArgs[game + 1] = chosen.string();
        }
        return true;
    }

    fs::path candidate = bundle ? InstalledGameFolder() : exeDir / "dist" / "game";
    if (!autoStart && !CheckDump(candidate).Ok()) {
        candidate = AskForDump(nullptr);
        if (candidate.empty()) return false;
    }
    if (paths::IsGameFolder(candidate)) {
        pathArgs.push_back("--game");
        pathArgs.push_back(candidate.string());
    }
    return true;
}

int RunLauncher(int argc, char** argv) {
    g_commandLine.assign(argv, argv + argc);

    const CommandLine cl = ScanCommandLine(g_commandLine, ChoicesOf(g_inst));
    if (cl.probe) return RunDlssProbe(cl.probeFolder, cl.probeResult);

    ApplyChoices(cl.choices, g_inst);
    std::vector<std::string> pathArgs = cl.pathArgs;
    g_passArgs.assign(pathArgs.begin() + 1, pathArgs.end());

    PrepareInstaller(g_commandLine);

    const fs::path exeDir = plat::ExecutablePath().parent_path();
    if (!ResolveGameFolder(pathArgs, g_inst.autoStart, g_inst.bundle, exeDir)) return 0;

    std::vector<char*> pathArgv;
    for (std::string& a : pathArgs) pathArgv.push_back(a.data());
    pathArgv.push_back(nullptr);
    paths::Init(static_cast<int>(pathArgv.size() - 1), pathArgv.data(), false);

    if (!paths::Game().empty()) {
        vfs::Config config;
        config.gameRoot = paths::Game();
        config.modsDir = paths::Mods();
        config.userDataDir = paths::UserData();
        vfs::Init(config);
        settings::menu_art::StartLoading();
    }

    return RunWindow(cl.screenshot);
}
