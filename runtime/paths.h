#pragma once
// Where everything lives: the folder of the running program, the user's game
// dump, the mods, user-data, languages and data folders, and two optional image
// overrides. Decided once by Init at start-up; the accessors hand out the
// values Init left (empty before it runs).
#include <filesystem>

namespace paths {

// Resolves every folder from the program's layout, the command-line switches
// (--xex, --image, --game, --mods, --userdata, --languages, --data, read as
// name/value pairs after argv[0]), the game folder next to the program and the
// one remembered in settings.toml. Asks the user only when askForGame is true;
// returns false only then, when the user ends up without a game folder.
bool Init(int argc, char** argv, bool askForGame);

// True when folder/default.xex and folder/default.rcf are both regular files
// (symbolic links followed). Errors count as false; never throws.
bool IsGameFolder(const std::filesystem::path& folder);

// Asks for the game folder until a valid one is chosen or the user cancels
// (empty result). owner: native parent window, may be null.
std::filesystem::path PickGameFolder(void* owner);

const std::filesystem::path& ExeDir();
const std::filesystem::path& Game();
const std::filesystem::path& Mods();
const std::filesystem::path& UserData();
const std::filesystem::path& Languages();
const std::filesystem::path& Data();
const std::filesystem::path& Xex();
const std::filesystem::path& Image();

// True when this Init picked the game folder interactively.
bool GameChosenNow();

} // namespace paths
