#pragma once
// Calls of the installer lifecycle into pieces that live in their own files:
// the install folder and disk space, the prerequisite check, the install
// sequence, the shortcuts and the DLSS check. installer_hooks.cpp holds weak
// fallbacks so that the program links and behaves soundly while a piece is
// absent; the piece's own (strong) definition replaces the fallback.
#include <cstdint>
#include <filesystem>

// Install folder: the remembered one, else ~/Games/<title>.
std::filesystem::path DefaultInstallDir();
// Stores the install folder for the next run.
void RememberInstallDir();
// Bytes of the regular files below `folder`.
uint64_t FolderBytes(const std::filesystem::path& folder);
// Starts the prerequisite check (or decides it without one).
void CheckPrerequisites();
// Starts the GPU detection and, when it applies, the DLSS probe.
void StartGpuCheck();
// Takes the DLSS probe's decision once it has finished.
void UpdateGpuCheck();
// Writes or removes the desktop and applications-menu shortcuts.
void ApplyShortcuts();
// Whether INSTALL is enabled.
bool CanInstall();
// Starts an installation run (or the assets-only retry).
void StartInstall(bool assetsOnly);
