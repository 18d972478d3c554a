#pragma once
// The installer program's spine: command line, run modes and start-up.
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/settings/settings.h"

// The whole program: command line, start-up, window and frame loop.
// Returns the process exit code.
int RunLauncher(int argc, char** argv);

// Every argument of the process, the program name included; never changed
// after start-up.
extern std::vector<std::string> g_commandLine;
// The pass-through arguments (without the program name), in order. A restarted
// installer receives them first on its command line.
extern std::vector<std::string> g_passArgs;
// The settings values; the installer uses only `language`.
extern settings::Values g_values;

// The installer choices the command line can set; the defaults are the
// installer's own.
struct LaunchChoices {
    bool autoStart = false;
    bool autoFinish = false;
    bool subtitles = true;
    bool remaster = false;
    bool extractAssets = false;
    bool copyGame = false;
    bool desktopShortcut = true;
    bool startMenu = true;
};

// What the command line asks for.
struct CommandLine {
    bool probe = false;                // DLSS probe child mode
    std::filesystem::path probeFolder; // its module folder
    std::filesystem::path probeResult; // its result file
    std::filesystem::path screenshot;  // single-screenshot mode when not empty
    LaunchChoices choices;
    // Arguments for the folder resolution: the program name, then every
    // pass-through argument in order.
    std::vector<std::string> pathArgs;
};

// Reads `arguments` (the program name first). Switch names are compared
// exactly; a switch whose value is missing passes through. `start` holds the
// choices before the switches are applied.
CommandLine ScanCommandLine(const std::vector<std::string>& arguments, const LaunchChoices& start = {});

// The dump steps of start-up. With "--game <folder>" in `pathArgs`, the first
// such folder is checked and, when it is not a compatible dump, replaced by the
// one the user picks. Without "--game", the default candidate (the installed
// copy in single-file mode, else `exeDir`/dist/game) is checked the same way
// and, when it is a game folder, appended as "--game <folder>". Nothing is
// checked or asked under `autoStart`. Returns false when the user gave up.
bool ResolveGameFolder(std::vector<std::string>& pathArgs, bool autoStart, bool bundle,
                       const std::filesystem::path& exeDir);
