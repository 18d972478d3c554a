#pragma once
// The install folder of single-file mode (remembered, default or picked), the
// check that it can be created and written, and the disk-space estimate.
#include <cstdint>
#include <filesystem>
#include <string>

// The folder the installer makes inside a folder the user picks.
inline constexpr const wchar_t* TITLE_DIR = L"Velkor of the Ombrax Lumenfall";
// Created empty and deleted at once by Writable.
inline constexpr const char* WRITE_TEST_FILE = ".velkorrecomp_write_test";

// Space estimate (bytes).
inline constexpr uint64_t BUILD_BYTES = 900ull * 1048576;        // build output, always
inline constexpr uint64_t SUBTITLES_BYTES = 10ull * 1048576;     // subtitles
inline constexpr uint64_t REMASTER_BYTES = 9500ull * 1048576;    // HD remaster
inline constexpr uint64_t ASSETS_BYTES = 18ull * 1073741824;     // assets for modding

// ($XDG_CONFIG_HOME, else $HOME/.config)/velkorrecomp/install_dir.
std::filesystem::path InstallDirMemory();
// The remembered install folder, else $HOME/Games/<TITLE_DIR>. Does not test
// whether the folder exists.
std::filesystem::path DefaultInstallDir();
// Stores g_inst.installDir in the memory file; failures are silent.
void RememberInstallDir();
// The install-folder row: asks for a folder, takes it (or <TITLE_DIR> inside
// it) as g_inst.installDir and reports when it cannot be written there.
void ChooseInstallDir();
// Creates `folder` with its parents and proves it can be written; otherwise
// `reason` says why, in the installer language.
bool Writable(const std::filesystem::path& folder, std::string& reason);
// Bytes available to unprivileged users on the drive of `folder`, or of its
// nearest existing ancestor; 0 when that cannot be asked.
uint64_t FreeBytes(const std::filesystem::path& folder);
// Bytes of the regular files below `folder` (links followed for files, not
// descended into for folders); stops counting at the first error.
uint64_t FolderBytes(const std::filesystem::path& folder);
// Bytes the installation needs with the current choices.
uint64_t RequiredBytes();
// The install folder's drive has room for RequiredBytes.
bool EnoughSpace();
// "12 MB" below 1 GiB, else "1.5 GB"; with a decimal comma in Portuguese.
std::string SizeText(uint64_t bytes);
