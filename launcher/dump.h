#pragma once
// Game dump verification: whether a folder holds the user's supported Xbox 360
// dump, finding it under a picked parent folder, and the native prompt that
// asks for it.
#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

// The files that must be regular files in a dump folder, in the order they are
// checked and listed. The folder also needs a sub-folder "shaders".
extern const wchar_t* const DUMP_FILES[5];

// The verdict on a dump folder: line 0 is the headline, line 1 the detail,
// in English (`en`) and Brazilian Portuguese (`pt`). All empty: compatible.
struct DumpProblem {
    std::array<std::string, 2> en;
    std::array<std::string, 2> pt;

    bool Ok() const { return en[0].empty(); }
};

// Checks `folder`: present, every file of DUMP_FILES, "shaders", and the
// SHA-256 of default.xex. Only reads files; never throws.
DumpProblem CheckDump(const std::filesystem::path& folder);

// `chosen` when it holds a regular default.xex, else its first direct
// sub-folder that does, else `chosen` unchanged.
std::filesystem::path FindDumpIn(const std::filesystem::path& chosen);

// Asks the user for the dump folder with native dialogs until a compatible one
// is picked or the user gives up (empty result). `owner` is passed to the
// folder picker only.
std::filesystem::path AskForDump(void* owner);

// The game folder in use (paths::Game()), empty when none is known.
std::filesystem::path GameFolder();

// Where an existing installation keeps the dump: the play folder's "game"
// copy, else the folder remembered in its settings.toml, else empty.
std::filesystem::path InstalledGameFolder();

// The game-folder action of the installer screen: asks for a dump and, when
// one is chosen, restarts the installer with "--game <folder>" as its only
// pass-through arguments (the game art is read only at start-up).
void ChooseInstallerGameFolder();
