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
        if (m_path.empty()) return;
        // A test may have taken the folder's own permissions away.
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace testsupport
