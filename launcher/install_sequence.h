#pragma once
// The INSTALL action: preconditions, the setup script's arguments, the
// payload copy on a background thread (single-file mode) and the hand-over to
// the script; the DLSS clean-up, the assets-only retry and the condition that
// enables installing.
//
// Also the two ways the installer engine reaches the screen: the message
// dialog and the end of the frame loop.
#include <filesystem>
#include <string>

#include "launcher/installer_payload.h"

// --- Screen hooks -----------------------------------------------------------
//
// The screen owns the message dialog (two lines, already in the shown
// language) and the frame loop's quit flag. It installs its handlers once at
// start-up; engine operations then call ShowMessage / RequestQuit. Without a
// message handler the last message is only kept (LastMessage); without a quit
// handler the request is only recorded (QuitRequested).
struct InstallerUi {
    void (*message)(const std::string& line0, const std::string& line1) = nullptr;
    void (*quit)() = nullptr;
};
void SetInstallerUi(const InstallerUi& ui);
void ShowMessage(const std::string& line0, const std::string& line1);
void RequestQuit();
// The last message shown through ShowMessage (both lines), and whether a quit
// was requested; ClearInstallerUiState forgets both.
std::string LastMessage(int line);
bool QuitRequested();
void ClearInstallerUiState();

// --- Install sequence -------------------------------------------------------

// Whether INSTALL is enabled (and whether unattended mode may start): the DLSS
// decision is known and an install folder is set (single-file mode), the dump
// is compatible, and the prerequisite check finished with nothing missing.
bool CanInstall();
// Payload components left out: "dlss" without DLSS, "modding" without the
// asset export.
ComponentSet SkippedComponents();
// The setup script's argument string for an installation run or an
// assets-only run (folder paths in double quotes).
std::wstring InstallArgs(bool assetsOnly);
// Starts an installation run, or the assets-only retry after a run that failed
// only in its last, optional step. Problems are reported through ShowMessage.
void StartInstall(bool assetsOnly);
// Single-file mode: checks the install folder and the free space, then copies
// the payload on the extraction thread; the script starts with `args` once the
// copy has finished (UpdateInstaller).
void StartExtraction(const std::wstring& args);
// Deletes the DLSS module and NVIDIA's DLSS libraries that an earlier
// installation left in root/thirdparty/dlss/bin, root/build and `playDir`
// (used when DLSS is left out). Not recursive; errors are ignored.
void RemoveDlssLeftovers(const std::filesystem::path& root, const std::filesystem::path& playDir);
// The last run failed, but the game itself is built: only the final optional
// step (the asset export) went wrong. Takes g_inst.mutex.
bool AssetsOnlyFailed();
