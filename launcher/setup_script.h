#pragma once
// The setup script runner: folder layout, process start, the output reader
// and the "@@" line protocol.
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// Install root: the payload goes here and the script runs here.
std::filesystem::path Root();
// Play folder: launcher, user data, installed-files list, version file.
std::filesystem::path PlayDir();
std::filesystem::path SetupLog();
std::filesystem::path SetupScript();
// The interpreter inside the install root's toolchain folder.
std::filesystem::path BundledPython();

// Starts the setup script with `args` (spaces separate items, double quotes
// group them); `check` marks a prerequisite check. True when the process was
// created.
bool StartSetup(const std::wstring& args, bool check);

// Starts `exe` (no PATH search) with `args`, standard output and error on
// `output` when it is >= 0, in `cwd` when not empty, leading a new process
// group when `group`. Returns the process id, 0 on failure.
pid_t Spawn(const std::filesystem::path& exe, const std::vector<std::string>& args,
            const std::filesystem::path& cwd, int output, bool group);

// " --toolchain <toolchain>" when the user chose one, else empty.
std::wstring ToolchainArg();
// First executable python3 on PATH (or /usr/bin:/bin), empty when none.
std::wstring FindPython();
std::vector<std::string> SplitArgs(const std::string& line);

// Handles one output line of the script; the caller holds g_inst.mutex.
void HandleLine(const std::string& line);
