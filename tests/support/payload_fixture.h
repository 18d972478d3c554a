#pragma once
// Writes payload trees of the single-file installer for tests, tools and
// benchmarks: the files and links below a root folder and the index
// ".velkorrecomp_payload" that lists them.
#include "tests/support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace payload_fixture {

struct Entry {
    std::string component;             // "base", "modding", "dlss", ...
    std::string path;                  // UTF-8, relative, "/" separators
    std::string content;               // bytes of a regular file
    std::string link;                  // not empty: a symbolic link to this target
    std::filesystem::path source;      // not empty: the file's bytes are copied from here
    bool executable = false;           // permission 0755 instead of 0644
};

// A small payload with three components, nested folders, names with spaces and
// accents, an empty file, a file larger than one 1 MiB copy buffer, links, the
// setup script copied from `setupScript`, and, when `python` is not empty, a
// toolchain interpreter toolchain/python/bin/python3 that links to it.
std::vector<Entry> SampleEntries(const std::filesystem::path& setupScript,
                                 const std::filesystem::path& python);

// Writes the entries below `root` and the index (a "tag" line first when `tag`
// is not empty). Returns an empty string, or what went wrong.
std::string WritePayload(const std::filesystem::path& root, const std::string& tag,
                         const std::vector<Entry>& entries);

// A payload of `count` regular files (component "base") holding `bytes` in
// total, spread over nested folders, with deterministic contents written in
// pieces (nothing of the size of the whole is held in memory).
std::string WriteBulkPayload(const std::filesystem::path& root, size_t count, uint64_t bytes,
                             const std::string& tag);

// Deterministic contents of `size` bytes for the given seed.
std::string Bytes(uint64_t seed, size_t size);

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME into `folder`
// (creating the folders), so that nothing reaches the real user's files.
void UseTemporaryHome(const std::filesystem::path& folder);

// Sets every regular file's modification time far into the past, so that any
// rewrite shows.
void AgeFiles(const std::filesystem::path& root);
// The regular files below `root` (relative paths) written in the last day.
std::set<std::string> Rewritten(const std::filesystem::path& root);

using testsupport::TempDir;

} // namespace payload_fixture
