#pragma once
// A thin owner of a host file descriptor with positional reads and writes, and
// the status of files in the host's 100-nanosecond-since-1601 time format.
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace plat {

enum class FileDisposition {
    OpenExisting = 0,
    CreateAlways = 1,
    CreateNew = 2,
    OpenAlways = 3,
    TruncateExisting = 4,
};

enum class FileError {
    None = 0,
    NotFound = 1,
    AccessDenied = 2,
    Exists = 3,
    Other = 4,
};

struct FileStat {
    uint64_t creation = 0; // times: 100 ns units since 1601-01-01 UTC
    uint64_t access = 0;
    uint64_t write = 0;
    uint64_t size = 0;
    uint32_t attributes = 0; // 0x10 directory, 0x1 read-only
};

class File {
public:
    static constexpr intptr_t INVALID = -1;

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Closes any open handle first; `error` (may be null) receives the outcome.
    bool Open(const std::filesystem::path& path, bool write, FileDisposition disposition,
              FileError* error);
    bool IsOpen() const { return m_handle != INVALID; }
    void Close();

    // Positional transfers; they never move a file position, so one open file
    // may be read from several threads at once. A transfer that reaches the end
    // of the file succeeds with fewer bytes; `transferred` tells how many.
    bool ReadAt(uint64_t offset, void* data, size_t length, size_t& transferred) const;
    bool WriteAt(uint64_t offset, const void* data, size_t length, size_t& transferred);
    // True only when exactly `length` bytes were read.
    bool ReadExactAt(uint64_t offset, void* data, size_t length) const;

    uint64_t Size() const; // 0 when it cannot be read
    bool SetSize(uint64_t size);
    bool Flush();
    bool Stat(FileStat& stat) const;

private:
    intptr_t m_handle = INVALID;
};

// Status of a path, symbolic links followed.
bool StatPath(const std::filesystem::path& path, FileStat& stat);

} // namespace plat
