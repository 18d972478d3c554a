#pragma once
// Desktop and applications-menu entries for the installed launcher, and the
// hand-over: starting the installed launcher, opening folders and files with
// the desktop's default application, and restarting the installer.
#include <filesystem>
#include <string>
#include <vector>

// Same file name on the desktop and in the applications folder.
inline constexpr const char* SHORTCUT_FILE = "velkorrecomp-velkorlumen.desktop";
inline constexpr const char* SHORTCUT_DESCRIPTION = "VelkorRecomp: Velkor of the Ombrax (launcher)";
// The installed launcher in the play folder.
inline constexpr const char* LAUNCHER_PROGRAM = "VelkorLauncher";

// Once, after a finished single-file installation: the desktop entry and the
// menu entry the user asked for. Does nothing otherwise.
void ApplyShortcuts();
// Writes one desktop entry starting `target`; mode 0755. Failures are logged.
void CreateShortcut(const std::filesystem::path& file, const std::filesystem::path& target,
                    const std::string& description);
// The Exec value for `target`: the path in double quotes with the Desktop Entry
// quoting, written with the key-file escapes (and "%" doubled).
std::string DesktopExecValue(const std::filesystem::path& target);
// `text` with the key-file string escapes (backslash, line feed, tab, carriage
// return).
std::string DesktopStringValue(const std::string& text);
// XDG_DESKTOP_DIR of user-dirs.dirs, else $HOME/Desktop.
std::filesystem::path DesktopFolder();
// ($XDG_DATA_HOME, else $HOME/.local/share)/applications.
std::filesystem::path ApplicationsFolder();
// Shortcuts, then starts the installed launcher in the finished folder and
// ends the installer when it started.
void OpenLauncher();
// Creates `folder` when needed and opens it with the file manager.
void OpenFolder(const std::filesystem::path& folder);
// Opens a path (as a file:// URL) or a URL with the desktop's default
// application; failures are logged.
void OpenWithDesktop(const std::filesystem::path& path);
// The arguments that give a restarted installer the current choices.
std::vector<std::string> InstallerRelaunchArgs();
// Restarts the installer (the AppImage file when it runs as one) with the
// pass-through arguments and the current choices, and ends this one when the
// new process started. Returns whether it started.
bool Relaunch();
