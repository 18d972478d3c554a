#pragma once
// A unique temporary folder under ${VELKOR_TEST_TMP:-/tmp}, removed with its
// contents when the object goes.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const char* tag = "velkor") {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        std::filesystem::path root = base && *base ? base : "/tmp";
        std::error_code ec;
        std::filesystem::create_directories(root, ec);
        std::string pattern = (root / (std::string(tag) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        if (m_path.empty()) return;
        // Folders a test made unreadable or read-only must not keep their
        // contents alive: each gets its owner's rights back before the walk
        // goes into it.
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace testsupport
