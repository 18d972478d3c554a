#pragma once
// Process-level services of the platform layer: dynamic libraries, the running
// program's path and command line, child processes, environment variables, and
// native dialogs through the desktop tools.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace plat {

enum class MessageKind { Info = 0, Warning = 1, Error = 2 };

void* OpenLibrary(const std::filesystem::path& path);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);
// The last library-loading error of this thread (reported once), else strerror(errno).
std::string LastErrorText();
std::string LibraryFileVersion(const std::filesystem::path& path);

std::filesystem::path ExecutablePath();
uint32_t CurrentProcessId();
std::vector<std::string> CommandLineArguments();
uint32_t StartSelf(const std::vector<std::string>& arguments);
bool WaitForProcessExit(uint32_t pid, uint32_t timeoutMs);
void SetEnvironment(const char* name, const char* value);
bool DisablePowerThrottling();
int CompareNoCase(const char* a, const char* b);
[[noreturn]] void ExitProcess(uint32_t exitCode);

std::filesystem::path PickFolder(const char* title, void* owner);
void ShowMessageBox(const char* title, const char* text, MessageKind kind, void* owner);
bool DesktopDisplayMode(int& width, int& height, int& refreshHz);

} // namespace plat
