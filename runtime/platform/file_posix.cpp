// plat::File on a POSIX file descriptor, and file status in the host's format.
#include "runtime/platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace plat {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01 (UTC).
constexpr uint64_t EPOCH_1601 = 116444736000000000ull;

uint64_t HostTime(const timespec& t) {
    return uint64_t(int64_t(t.tv_sec) * 10000000 + int64_t(t.tv_nsec) / 100) + EPOCH_1601;
}

void FillStat(const struct stat& st, FileStat& stat) {
    stat.creation = HostTime(st.st_ctim);
    stat.access = HostTime(st.st_atim);
    stat.write = HostTime(st.st_mtim);
    stat.size = uint64_t(st.st_size);
    stat.attributes = 0;
    if (S_ISDIR(st.st_mode)) stat.attributes |= 0x10u;
    if (!(st.st_mode & S_IWUSR)) stat.attributes |= 0x1u;
}

FileError MapErrno(int error) {
    switch (error) {
    case EPERM:
    case EACCES:
    case EROFS:
        return FileError::AccessDenied;
    case ENOENT:
    case ENOTDIR:
        return FileError::NotFound;
    case EEXIST:
        return FileError::Exists;
    default:
        return FileError::Other;
    }
}

enum class Transfer { Done, Failed, Fault };

// pread/pwrite until `length` bytes are done or a call moves nothing.
template <typename Call>
Transfer TransferLoop(Call call, size_t length, size_t& transferred) {
    while (transferred < length) {
        const ssize_t n = call(transferred);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EFAULT ? Transfer::Fault : Transfer::Failed;
        }
        if (n == 0) break;
        transferred += size_t(n);
    }
    return Transfer::Done;
}

bool ReadPositional(int fd, uint64_t offset, void* data, size_t length, size_t& transferred) {
    transferred = 0;
    if (length == 0) return true;
    uint8_t* bytes = static_cast<uint8_t*>(data);
    Transfer result = TransferLoop(
        [&](size_t done) { return pread(fd, bytes + done, length - done, off_t(offset + done)); }, length,
        transferred);
    if (result != Transfer::Fault) return result == Transfer::Done;

    // The kernel could not reach the caller's buffer (memory that only becomes
    // accessible through a fault handler): read into our own and copy.
    std::unique_ptr<uint8_t[]> temp(new (std::nothrow) uint8_t[length]());
    if (!temp) return false;
    transferred = 0;
    result = TransferLoop(
        [&](size_t done) { return pread(fd, temp.get() + done, length - done, off_t(offset + done)); },
        length, transferred);
    if (result != Transfer::Done) return false;
    std::memcpy(bytes, temp.get(), transferred);
    return true;
}

bool WritePositional(int fd, uint64_t offset, const void* data, size_t length, size_t& transferred) {
    transferred = 0;
    if (length == 0) return true;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    Transfer result = TransferLoop(
        [&](size_t done) { return pwrite(fd, bytes + done, length - done, off_t(offset + done)); }, length,
        transferred);
    if (result != Transfer::Fault) return result == Transfer::Done;

    std::unique_ptr<uint8_t[]> temp(new (std::nothrow) uint8_t[length]());
    if (!temp) return false;
    std::memcpy(temp.get(), bytes, length);
    transferred = 0;
    result = TransferLoop(
        [&](size_t done) { return pwrite(fd, temp.get() + done, length - done, off_t(offset + done)); },
        length, transferred);
    return result == Transfer::Done;
}

} // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = INVALID; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = INVALID;
    }
    return *this;
}

bool File::Open(const std::filesystem::path& path, bool write, FileDisposition disposition, FileError* error) {
    Close();
    int flags = O_CLOEXEC | (write ? O_RDWR : O_RDONLY);
    switch (disposition) {
    case FileDisposition::OpenExisting:
        break;
    case FileDisposition::CreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    case FileDisposition::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case FileDisposition::OpenAlways:
        flags |= O_CREAT;
        break;
    case FileDisposition::TruncateExisting:
        flags |= O_TRUNC;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error) *error = MapErrno(errno);
        return false;
    }
    m_handle = fd;
    if (error) *error = FileError::None;
    return true;
}

void File::Close() {
    if (m_handle != INVALID) {
        ::close(int(m_handle));
        m_handle = INVALID;
    }
}

bool File::ReadAt(uint64_t offset, void* data, size_t length, size_t& transferred) const {
    transferred = 0;
    if (m_handle == INVALID) return length == 0;
    return ReadPositional(int(m_handle), offset, data, length, transferred);
}

bool File::WriteAt(uint64_t offset, const void* data, size_t length, size_t& transferred) {
    transferred = 0;
    if (m_handle == INVALID) return length == 0;
    return WritePositional(int(m_handle), offset, data, length, transferred);
}

bool File::ReadExactAt(uint64_t offset, void* data, size_t length) const {
    size_t transferred = 0;
    return ReadAt(offset, data, length, transferred) && transferred == length;
}

uint64_t File::Size() const {
    struct stat st;
    if (m_handle == INVALID || fstat(int(m_handle), &st) != 0) return 0;
    return uint64_t(st.st_size);
}

bool File::SetSize(uint64_t size) {
    if (m_handle == INVALID) return false;
    int result;
    do {
        result = ftruncate(int(m_handle), off_t(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool File::Flush() { return m_handle != INVALID && fsync(int(m_handle)) == 0; }

bool File::Stat(FileStat& stat) const {
    struct stat st;
    if (m_handle == INVALID || fstat(int(m_handle), &st) != 0) return false;
    FillStat(st, stat);
    return true;
}

bool StatPath(const std::filesystem::path& path, FileStat& stat) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    FillStat(st, stat);
    return true;
}

} // namespace plat
