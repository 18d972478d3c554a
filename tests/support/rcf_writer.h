#pragma once
// Writes RCF ("ATG CORE CEMENT LIBRARY") archives as the game's reader expects
// them: big-endian header and directory, a name table with little-endian name
// lengths whose records follow the entries' data order.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct RcfEntry {
    std::string name;           // e.g. "package\\b4c85fe7.p3d", any case
    std::vector<uint8_t> data;
};

struct RcfOptions {
    uint32_t alignment = 2048;  // entries' data starts on multiples of this
    // Directory records in the order of their first word (a hash of the
    // lower-case name), which is not the data order, as in the game's archives.
    bool hashOrderedDirectory = true;
};

// The archive bytes. Entries' data is laid out in the order given.
std::vector<uint8_t> BuildRcf(const std::vector<RcfEntry>& entries, const RcfOptions& options = {});

// Writes the archive without building it in memory (for large entries).
bool WriteRcf(const std::filesystem::path& path, const std::vector<RcfEntry>& entries,
              const RcfOptions& options = {});

// Whole-file helpers.
bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

} // namespace testsupport
