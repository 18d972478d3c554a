#pragma once
// The payload of the single-file installer: its index (.velkorrecomp_payload),
// the parallel copy into the install root, the removal of files an older
// version left behind, and the installed-files and version files.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

struct PayloadFile {
    std::string component; // "base", "modding", "dlss", ...
    uint64_t size = 0;     // bytes; 0 for links
    std::wstring path;     // relative to the payload root and the install root, "/" separators
    std::string link;      // target of a symbolic link; empty for regular files
};

// Names of payload components left out of an installation.
using ComponentSet = std::set<std::string>;

struct Payload {
    bool present = false;          // an index was found and lists at least one entry
    std::string tag;               // version tag; empty without a tag line
    std::filesystem::path root;    // folder holding the index and the payload files
    std::vector<PayloadFile> files;

    // Sum of the sizes of the entries whose component is not skipped.
    uint64_t Bytes(const ComponentSet& skip) const;
};

// Shared between the copy workers and the screen.
struct ExtractProgress {
    std::atomic<uint64_t> done{0};  // bytes copied or skipped so far
    std::atomic<uint64_t> total{0}; // bytes to copy
    std::atomic<bool> cancel{false};
};

// The payload of this process: filled once before the window opens.
extern Payload g_payload;

// Index file name inside a payload root.
inline constexpr const char* PAYLOAD_INDEX = ".velkorrecomp_payload";
// Installed-files list and version file inside the play folder.
inline constexpr const char* INSTALLED_FILES = ".velkorrecomp_files";
inline constexpr const char* VERSION_FILE = ".velkorrecomp_version";

// Looks for the index in $APPDIR/payload, then in the folder "payload" in the
// parent of the folder that holds the executable's folder.
Payload ReadPayload();
// Parses root/.velkorrecomp_payload into `payload` (root set); false when the
// index does not open.
bool ReadPayloadIndex(const std::filesystem::path& root, Payload& payload);

// Number of copy workers for a machine reporting this many hardware threads.
unsigned ExtractWorkerCount(unsigned hardwareThreads);

// Copies every entry not skipped to destination/path. Returns "" on success,
// "cancelled" when stopped by progress.cancel without an error, else the first
// error. Entries whose path would leave the destination fail the extraction.
std::string ExtractPayload(const Payload& payload, const std::filesystem::path& destination,
                           const ComponentSet& skip, ExtractProgress& progress);

// Creates the folder and its missing parents; on failure `error` gets
// "<folder>: <message>".
bool CreateDirectories(const std::filesystem::path& folder, std::string& error);

// Deletes the files of the previous installation that g_payload no longer lists
// and rewrites the installed-files list in the play folder.
void RemoveStaleFiles(const ComponentSet& skip);

// Writes g_payload's tag to the version file in the play folder; false when the
// tag is empty or the file cannot be written.
bool WriteVersionFile();
