#pragma once
// Helpers of the installer-flow tests: environment guards, a private tmpfs,
// waiting for the installer's workers, and running this test program again
// from another folder (the installer takes its own folder as the release
// folder when no payload is present).
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "tests/support/scoped_env.h"

namespace flow_support {

using testsupport::EnvGuard;

// A tmpfs mounted on `folder` for the life of the object, where the machine
// lets us mount one (root, and no sandbox forbidding it).
class Tmpfs {
public:
    Tmpfs(const std::filesystem::path& folder, const std::string& options) : m_folder(folder) {
        std::filesystem::create_directories(folder);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0) m_mounted = true;
        else m_error = std::strerror(errno);
    }
    ~Tmpfs() {
        if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool mounted() const { return m_mounted; }
    const std::string& error() const { return m_error; }
    // Changes the mount options (for example the size) in place.
    bool Remount(const std::string& options) {
        return ::mount("tmpfs", m_folder.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
    }

private:
    std::filesystem::path m_folder;
    bool m_mounted = false;
    std::string m_error;
};

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Calls `step` until `done` holds; false when it still does not after a
// minute (a hung worker), so that a broken build fails instead of hanging.
inline bool PollUntil(const std::function<void()>& step, const std::function<bool()>& done) {
    for (int i = 0; i < 12000; ++i) {
        step();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The environment variable that tells a test it runs inside its app folder.
inline constexpr const char* APP_VARIABLE = "VELKOR_TEST_APP";

// Runs this test program again as `app`/<its name> (a hard link, else a copy)
// with only the tests matching `filter`, and with APP_VARIABLE set to `app`.
// Returns its exit status (-1 when it could not run); `output` gets what it
// printed.
inline int RunInApp(const std::filesystem::path& app, const std::string& filter, std::string& output) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return -1;
    const fs::path exe = app / self.filename();
    fs::create_directories(app, ec);
    fs::remove(exe, ec);
    fs::create_hard_link(self, exe, ec);
    if (ec && !fs::copy_file(self, exe, ec)) return -1;
    setenv(APP_VARIABLE, app.c_str(), 1);
    const std::string command = "'" + exe.string() + "' '--gtest_filter=" + filter + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    unsetenv(APP_VARIABLE);
    if (!pipe) return -1;
    char chunk[4096];
    size_t got;
    output.clear();
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace flow_support
