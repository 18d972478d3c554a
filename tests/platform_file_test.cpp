// plat::File and the file status functions on real files.
#include "runtime/platform/file.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using plat::File;
using plat::FileDisposition;
using plat::FileError;

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

class PlatFile : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        fs::path root = base && *base ? base : "/tmp";
        std::error_code ec;
        fs::create_directories(root, ec);
        std::string pattern = (root / "files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    fs::path dir;
};

size_t OpenDescriptors() {
    size_t count = 0;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++count;
    return count;
}

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = char((i * 131 + i / 251) & 0xFF);
    return data;
}

} // namespace

TEST_F(PlatFile, OpenDispositions) {
    struct Case {
        const char* name;
        FileDisposition disposition;
        bool exists;
        bool write;
        bool ok;
        FileError error;
        const char* contentAfter; // nullptr: no file afterwards
    } cases[] = {
        {"existing-open", FileDisposition::OpenExisting, true, false, true, FileError::None, "old"},
        {"missing-open", FileDisposition::OpenExisting, false, false, false, FileError::NotFound, nullptr},
        {"existing-create-always", FileDisposition::CreateAlways, true, true, true, FileError::None, ""},
        {"missing-create-always", FileDisposition::CreateAlways, false, true, true, FileError::None, ""},
        {"existing-create-new", FileDisposition::CreateNew, true, true, false, FileError::Exists, "old"},
        {"missing-create-new", FileDisposition::CreateNew, false, true, true, FileError::None, ""},
        {"existing-open-always", FileDisposition::OpenAlways, true, true, true, FileError::None, "old"},
        {"missing-open-always", FileDisposition::OpenAlways, false, true, true, FileError::None, ""},
        {"existing-truncate", FileDisposition::TruncateExisting, true, true, true, FileError::None, ""},
        {"missing-truncate", FileDisposition::TruncateExisting, false, true, false, FileError::NotFound, nullptr},
    };
    for (const Case& c : cases) {
        const fs::path path = dir / c.name;
        if (c.exists) WriteFile(path, "old");
        File file;
        FileError error = FileError::Other;
        EXPECT_EQ(file.Open(path, c.write, c.disposition, &error), c.ok) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(file.IsOpen(), c.ok) << c.name;
        file.Close();
        EXPECT_EQ(fs::exists(path), c.contentAfter != nullptr) << c.name;
        if (c.contentAfter) {
            EXPECT_EQ(ReadFile(path), c.contentAfter) << c.name;
        }
    }
    struct stat st;
    ASSERT_EQ(stat((dir / "missing-create-new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~[] { mode_t m = umask(0); umask(m); return m; }());
}

TEST_F(PlatFile, OpenFailuresAreClassified) {
    WriteFile(dir / "plain", "x");
    File file;
    FileError error = FileError::None;
    // A file used as a folder.
    EXPECT_FALSE(file.Open(dir / "plain" / "child", false, FileDisposition::OpenExisting, &error));
    EXPECT_EQ(error, FileError::NotFound);
    // A folder opened for writing.
    EXPECT_FALSE(file.Open(dir, true, FileDisposition::OpenExisting, &error));
    EXPECT_EQ(error, FileError::Other);
    // A null outcome pointer is allowed.
    EXPECT_FALSE(file.Open(dir / "missing", false, FileDisposition::OpenExisting, nullptr));
    EXPECT_FALSE(file.IsOpen());

    // Writing a read-only kernel setting is refused even to root.
    const fs::path readOnly = "/proc/sys/kernel/ostype";
    if (access(readOnly.c_str(), R_OK) != 0) GTEST_SKIP() << "no " << readOnly;
    EXPECT_FALSE(file.Open(readOnly, true, FileDisposition::OpenExisting, &error));
    EXPECT_EQ(error, FileError::AccessDenied);
    EXPECT_TRUE(file.Open(readOnly, false, FileDisposition::OpenExisting, &error));
    EXPECT_EQ(error, FileError::None);
}

TEST_F(PlatFile, HandlesAreOwned) {
    WriteFile(dir / "a", "AAAA");
    WriteFile(dir / "b", "BBBB");
    const size_t before = OpenDescriptors();
    {
        File a;
        ASSERT_TRUE(a.Open(dir / "a", false, FileDisposition::OpenExisting, nullptr));
        ASSERT_TRUE(a.Open(dir / "b", false, FileDisposition::OpenExisting, nullptr)); // closes "a"
        EXPECT_EQ(OpenDescriptors(), before + 1);
        char c = 0;
        EXPECT_TRUE(a.ReadExactAt(0, &c, 1));
        EXPECT_EQ(c, 'B');

        File moved(std::move(a));
        EXPECT_FALSE(a.IsOpen()); // NOLINT(bugprone-use-after-move)
        EXPECT_TRUE(moved.IsOpen());

        File target;
        ASSERT_TRUE(target.Open(dir / "a", false, FileDisposition::OpenExisting, nullptr));
        EXPECT_EQ(OpenDescriptors(), before + 2);
        target = std::move(moved); // closes target's own "a"
        EXPECT_EQ(OpenDescriptors(), before + 1);
        EXPECT_FALSE(moved.IsOpen()); // NOLINT(bugprone-use-after-move)
        EXPECT_TRUE(target.ReadExactAt(3, &c, 1));
        EXPECT_EQ(c, 'B');
        target.Close();
        target.Close();
        EXPECT_FALSE(target.IsOpen());
        EXPECT_EQ(OpenDescriptors(), before);
        ASSERT_TRUE(target.Open(dir / "a", false, FileDisposition::OpenExisting, nullptr));
    }
    EXPECT_EQ(OpenDescriptors(), before); // the destructor closed it

    // Descriptors are not inherited by programs this one starts.
    File file;
    ASSERT_TRUE(file.Open(dir / "a", false, FileDisposition::OpenExisting, nullptr));
    const std::string listing = "ls -l /proc/self/fd/ | grep -q '" + (dir / "a").string() + "'";
    EXPECT_NE(std::system(listing.c_str()), 0);
}

TEST_F(PlatFile, PositionalTransfers) {
    File file;
    ASSERT_TRUE(file.Open(dir / "data", true, FileDisposition::CreateNew, nullptr));
    const std::string data = Pattern(100000);
    size_t transferred = 99;
    EXPECT_TRUE(file.WriteAt(0, data.data(), data.size(), transferred));
    EXPECT_EQ(transferred, data.size());
    EXPECT_EQ(file.Size(), data.size());

    // A write past the end leaves a zero-filled gap.
    EXPECT_TRUE(file.WriteAt(100010, "end", 3, transferred));
    EXPECT_EQ(transferred, 3u);
    EXPECT_EQ(file.Size(), 100013u);

    struct Case {
        uint64_t offset;
        size_t length;
        size_t transferred;
    } cases[] = {
        {0, 0, 0},           {0, 1, 1},          {4095, 4097, 4097},   {99990, 23, 23},
        {100000, 13, 13},    {100005, 100, 8},   {100013, 10, 0},      {1u << 30, 10, 0},
        {0, 100013, 100013}, {0, 200000, 100013},
    };
    std::string expected = data + std::string(10, '\0') + "end";
    for (const Case& c : cases) {
        std::vector<char> buffer(c.length + 1, '\x55');
        transferred = 77;
        EXPECT_TRUE(file.ReadAt(c.offset, buffer.data(), c.length, transferred)) << c.offset;
        EXPECT_EQ(transferred, c.transferred) << c.offset;
        EXPECT_EQ(std::string(buffer.data(), transferred), expected.substr(size_t(std::min<uint64_t>(c.offset, expected.size())), transferred));
        EXPECT_EQ(buffer[transferred], '\x55') << "wrote past what it read";
        EXPECT_EQ(file.ReadExactAt(c.offset, buffer.data(), c.length), c.transferred == c.length) << c.offset;
    }

    // Overwrite in the middle; nothing else changes.
    EXPECT_TRUE(file.WriteAt(5, "XYZ", 3, transferred));
    expected.replace(5, 3, "XYZ");
    file.Close();
    EXPECT_EQ(ReadFile(dir / "data"), expected);

    // A read-only file refuses writes and says nothing was written.
    ASSERT_TRUE(file.Open(dir / "data", false, FileDisposition::OpenExisting, nullptr));
    transferred = 5;
    EXPECT_FALSE(file.WriteAt(0, "no", 2, transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_FALSE(file.SetSize(1));
    EXPECT_EQ(file.Size(), expected.size());

    // A closed file fails quietly.
    file.Close();
    char c;
    EXPECT_FALSE(file.ReadAt(0, &c, 1, transferred));
    EXPECT_FALSE(file.ReadExactAt(0, &c, 1));
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_FALSE(file.Flush());
    plat::FileStat stat;
    EXPECT_FALSE(file.Stat(stat));
}

TEST_F(PlatFile, SizeAndFlush) {
    File file;
    ASSERT_TRUE(file.Open(dir / "sized", true, FileDisposition::CreateAlways, nullptr));
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_TRUE(file.SetSize(5000));
    EXPECT_EQ(file.Size(), 5000u);
    std::vector<char> buffer(5000, 'x');
    EXPECT_TRUE(file.ReadExactAt(0, buffer.data(), buffer.size()));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(5000, '\0'));
    size_t transferred;
    EXPECT_TRUE(file.WriteAt(0, "keep", 4, transferred));
    EXPECT_TRUE(file.SetSize(2));
    EXPECT_EQ(file.Size(), 2u);
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(ReadFile(dir / "sized"), "ke");
}

TEST_F(PlatFile, ConcurrentReadsOfOneFile) {
    const std::string data = Pattern(1 << 20);
    WriteFile(dir / "shared", data);
    File file;
    ASSERT_TRUE(file.Open(dir / "shared", false, FileDisposition::OpenExisting, nullptr));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<char> buffer(4096 + t);
            for (uint64_t offset = uint64_t(t) * 977; offset + buffer.size() <= data.size(); offset += 65536 + t) {
                if (!file.ReadExactAt(offset, buffer.data(), buffer.size()) ||
                    std::memcmp(buffer.data(), data.data() + offset, buffer.size()) != 0)
                    ++mismatches[size_t(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(PlatFile, StatTimesSizeAndAttributes) {
    WriteFile(dir / "file", "12345");
    // 2000-01-01 00:00:00.5 UTC for access, one second later for modification.
    const timespec times[2] = {{946684800, 500000000}, {946684801, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "file").c_str(), times, 0), 0);
    const uint64_t access = 125911584005000000ull;
    const uint64_t write = access + 7500000ull;

    plat::FileStat byPath;
    ASSERT_TRUE(plat::StatPath(dir / "file", byPath));
    EXPECT_EQ(byPath.size, 5u);
    EXPECT_EQ(byPath.access, access);
    EXPECT_EQ(byPath.write, write);
    EXPECT_EQ(byPath.attributes, 0u);
    // The status change time is recent.
    const uint64_t now = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count() / 100) + 116444736000000000ull;
    EXPECT_LT(byPath.creation > now ? byPath.creation - now : now - byPath.creation, 600ull * 10000000ull);

    File file;
    ASSERT_TRUE(file.Open(dir / "file", false, FileDisposition::OpenExisting, nullptr));
    plat::FileStat byHandle;
    ASSERT_TRUE(file.Stat(byHandle));
    EXPECT_EQ(byHandle.size, byPath.size);
    EXPECT_EQ(byHandle.access, byPath.access);
    EXPECT_EQ(byHandle.write, byPath.write);
    EXPECT_EQ(byHandle.creation, byPath.creation);

    struct Case {
        const char* name;
        bool directory;
        fs::perms perms;
        uint32_t attributes;
    } cases[] = {
        {"rw-file", false, fs::perms(0644), 0x0},
        {"ro-file", false, fs::perms(0444), 0x1},
        {"wo-file", false, fs::perms(0200), 0x0},
        {"rw-dir", true, fs::perms(0755), 0x10},
        {"ro-dir", true, fs::perms(0555), 0x11},
    };
    for (const Case& c : cases) {
        const fs::path path = dir / c.name;
        if (c.directory)
            fs::create_directory(path);
        else
            WriteFile(path, "x");
        fs::permissions(path, c.perms);
        plat::FileStat stat;
        ASSERT_TRUE(plat::StatPath(path, stat)) << c.name;
        EXPECT_EQ(stat.attributes, c.attributes) << c.name;
        // Symbolic links are followed.
        fs::create_symlink(path, dir / (std::string(c.name) + ".link"));
        ASSERT_TRUE(plat::StatPath(dir / (std::string(c.name) + ".link"), stat));
        EXPECT_EQ(stat.attributes, c.attributes) << c.name;
        fs::permissions(path, fs::perms::owner_all);
    }
    plat::FileStat missing;
    EXPECT_FALSE(plat::StatPath(dir / "missing", missing));
    EXPECT_FALSE(plat::StatPath(dir / "file" / "child", missing));
}

// Memory that only becomes readable and writable in a fault handler (as the
// runtime's guarded memory does): the kernel refuses it, so transfers go
// through a buffer of their own and the copy wakes the handler.
namespace {
uint8_t* g_guarded = nullptr;
size_t g_guardedSize = 0;
struct sigaction g_previous;

void OpenGuardedMemory(int signal, siginfo_t* info, void* context) {
    uint8_t* address = static_cast<uint8_t*>(info->si_addr);
    if (g_guarded && address >= g_guarded && address < g_guarded + g_guardedSize) {
        mprotect(g_guarded, g_guardedSize, PROT_READ | PROT_WRITE);
        return;
    }
    sigaction(signal, &g_previous, nullptr);
    (void)context;
}
} // namespace

TEST_F(PlatFile, BuffersTheKernelCannotReach) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    g_guardedSize = 2 * page;
    void* memory = mmap(nullptr, g_guardedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    g_guarded = static_cast<uint8_t*>(memory);
    struct sigaction action {};
    action.sa_sigaction = OpenGuardedMemory;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGSEGV, &action, &g_previous), 0);

    const std::string data = Pattern(page + 100);
    File file;
    ASSERT_TRUE(file.Open(dir / "guarded", true, FileDisposition::CreateNew, nullptr));

    // Write from guarded memory.
    std::memcpy(g_guarded, data.data(), data.size());
    ASSERT_EQ(mprotect(g_guarded, g_guardedSize, PROT_NONE), 0);
    size_t transferred = 0;
    EXPECT_TRUE(file.WriteAt(10, g_guarded, data.size(), transferred));
    EXPECT_EQ(transferred, data.size());

    // Read into guarded memory, stopping at the end of the file.
    ASSERT_EQ(mprotect(g_guarded, g_guardedSize, PROT_NONE), 0);
    EXPECT_TRUE(file.ReadAt(10, g_guarded, g_guardedSize, transferred));
    EXPECT_EQ(transferred, data.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_guarded), data.size()), data);
    ASSERT_EQ(mprotect(g_guarded, g_guardedSize, PROT_NONE), 0);
    EXPECT_TRUE(file.ReadExactAt(10, g_guarded, data.size()));

    sigaction(SIGSEGV, &g_previous, nullptr);
    munmap(memory, g_guardedSize);
    g_guarded = nullptr;
    file.Close();
    EXPECT_EQ(ReadFile(dir / "guarded"), std::string(10, '\0') + data);
}
