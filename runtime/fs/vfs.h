#pragma once
// The virtual file system: maps the game's own file names ("D:\default.rcf",
// "game:/x", "\Device\Harddisk0\Partition1\save", "cache:\y", content devices)
// onto host folders. Guest names are case-insensitive: a lookup finds the host
// file whatever the case of its name on disk. Mods overlay the game dump.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vfs {

struct Config {
    std::filesystem::path gameRoot;
    std::filesystem::path modsDir;
    std::filesystem::path userDataDir;
};

struct Mount {
    const char* display = "";    // name shown for the mount, e.g. "D:"
    std::filesystem::path root;  // host folder
    bool writable = false;
    bool overlay = false;        // mods may override its files
};

struct ModInfo {
    std::string name;            // the mod's folder name
    std::filesystem::path root;  // the mod's folder
};

struct VirtualPath {
    const Mount* mount = nullptr;  // null: no mount
    // Inside the mount: components joined by single backslashes, no leading or
    // trailing separator, "." and ".." resolved, letters in the caller's case.
    std::string relative;

    std::string Display() const;  // mount display (or "?:"), "\", relative
    bool Writable() const;        // the mount's writable flag (false without one)
};

struct Location {
    std::filesystem::path host;  // the host file found
    std::string source;          // "mod <name>", "game" or "userdata"
};

struct DirectoryEntry {
    std::string name;            // as spelled on disk
    std::filesystem::path host;
};

// Sets the mounts and loads the mod list from config.modsDir (load_order.txt
// first, then the other enabled mod folders by case-insensitive name). May run
// again: the mod list is rebuilt, content mounts survive.
void Init(const Config& config);

const std::filesystem::path& UserDataDir();
const std::filesystem::path& GameDir();
const std::vector<ModInfo>& Mods();

// Appends a mod at the lowest priority.
void AddMod(const ModInfo& mod);

// Turns a guest path into a mount and a relative path; directory (may be null)
// is the base for names without a device. Empty for an unknown device, a path
// that leaves its mount with "..", or an absolute path without a device.
std::optional<VirtualPath> Parse(std::string_view guestPath, const VirtualPath* directory);

// Finds the host file for reading (mods first for the game mount). Folder
// listings read for the case-insensitive match are kept and reused while the
// folder's inode and modification time stay the same (a folder changed in the
// last moments is read again each time); Init drops them all.
std::optional<Location> Locate(const VirtualPath& path);

// The host path under the path's own mount (mods not consulted), case-matched
// like Locate, whether or not it exists. Empty without a mount.
std::filesystem::path WritableHostPath(const VirtualPath& path);

// The merged listing of a directory: higher-priority sources first, each name
// (compared case-insensitively) once. Empty without a mount.
std::vector<DirectoryEntry> List(const VirtualPath& directory);

// Mounts or re-points the content device "<rootName>:" at host. False for an
// empty name, one longer than 32 characters, or one with '/', '\' or ':'.
bool MountContent(std::string_view rootName, const std::filesystem::path& host);
void UnmountContent(std::string_view rootName);

// Guest-style wildcard test ('*', '?', case-insensitive; "", "*", "*.*" match all).
bool MatchWildcard(std::string_view pattern, std::string_view name);

// The mod order rule on its own: enabledSorted are the enabled mod folder names
// in case-insensitive name order, loadOrder the text of load_order.txt. Returns
// the names in priority order (listed ones first, then the rest in their
// order); names the file lists that are not enabled folders go to notEnabled.
std::vector<std::string> OrderMods(std::vector<std::string> enabledSorted, std::string_view loadOrder,
                                   std::vector<std::string>* notEnabled);

} // namespace vfs
