// The install folder and the disk-space estimate of single-file mode.
#include "launcher/install_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "runtime/platform/platform.h"
#include "launcher/launcher.h"
#include "runtime/settings/options.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MIB = 1048576;
constexpr uint64_t GIB = 1073741824;
constexpr size_t MEMORY_LINE = 4096;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

fs::path Home() {
    const char* home = std::getenv("HOME");
    return home ? fs::path(home) : fs::path("/tmp");
}

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

} // namespace

fs::path InstallDirMemory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const fs::path base = config && *config ? fs::path(config) : Home() / ".config";
    return base / "velkorrecomp" / "install_dir";
}

fs::path DefaultInstallDir() {
    if (FilePtr in{std::fopen(InstallDirMemory().c_str(), "rb")}) {
        char line[MEMORY_LINE] = {};
        const bool read = std::fgets(line, sizeof line, in.get()) != nullptr;
        in.reset();
        line[std::strcspn(line, "\r\n")] = '\0';
        if (read && line[0] != '\0') return fs::path(line);
    }
    return Home() / "Games" / TITLE_DIR;
}

void RememberInstallDir() {
    const fs::path memory = InstallDirMemory();
    std::error_code ec;
    fs::create_directories(memory.parent_path(), ec);
    if (FilePtr out{std::fopen(memory.c_str(), "wb")}) {
        std::fprintf(out.get(), "%s\n", g_inst.installDir.c_str());
    }
}

void ChooseInstallDir() {
    const fs::path picked = plat::PickFolder(
        InstallerText("Where to install (a \"Velkor of the Ombrax Lumenfall\" folder is made inside it)",
                      "Onde instalar (a pasta \"Velkor of the Ombrax Lumenfall\" é criada dentro dela)"),
        nullptr);
    if (picked.empty()) return;
    std::error_code ec;
    const bool earlierInstall = fs::exists(picked / "VelkorRecomp" / "tools" / "setup.py", ec);
    if (earlierInstall || picked.filename() == fs::path(TITLE_DIR)) {
        g_inst.installDir = picked;
    } else {
        g_inst.installDir = picked / TITLE_DIR;
    }
    std::string reason;
    if (!Writable(g_inst.installDir, reason)) ShowMessage(reason, g_inst.installDir.string());
}

bool Writable(const fs::path& folder, std::string& reason) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!IsDirectory(folder)) {
        reason = InstallerText("Cannot create this folder.", "Não dá para criar esta pasta.");
        return false;
    }
    const fs::path probe = folder / WRITE_TEST_FILE;
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = InstallerText("No permission to write here: choose a folder of your user.",
                               "Sem permissão para gravar aqui: escolha uma pasta do seu usuário.");
        return false;
    }
    ::close(fd);
    fs::remove(probe, ec);
    return true;
}

uint64_t FreeBytes(const fs::path& folder) {
    fs::path path = folder;
    while (!path.empty()) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!ec && fs::exists(status)) break;
        const fs::path parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    struct statvfs info;
    if (path.empty() || ::statvfs(path.c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

uint64_t FolderBytes(const fs::path& folder) {
    uint64_t total = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        const fs::file_status status = it->status(entryError);
        if (entryError) {
            // A link to nothing is no file; anything else ends the count.
            std::error_code linkError;
            if (status.type() == fs::file_type::not_found && it->is_symlink(linkError) && !linkError) continue;
            break;
        }
        if (!fs::is_regular_file(status)) continue;
        const uintmax_t size = fs::file_size(it->path(), entryError);
        if (entryError) break;
        total += size;
    }
    return total;
}

uint64_t RequiredBytes() {
    uint64_t bytes = BUILD_BYTES;
    if (g_inst.subtitles) bytes += SUBTITLES_BYTES;
    if (g_inst.remaster) bytes += REMASTER_BYTES;
    if (g_inst.extractAssets) bytes += ASSETS_BYTES;
    if (g_inst.bundle || g_inst.copyGame) bytes += g_inst.gameBytes;
    return bytes + g_payload.Bytes(SkippedComponents());
}

bool EnoughSpace() {
    return FreeBytes(g_inst.installDir) >= RequiredBytes();
}

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes >= GIB) {
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / static_cast<double>(GIB));
    } else {
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / static_cast<double>(MIB));
    }
    std::string result = text;
    if (settings::options::Portuguese(g_values)) {
        for (char& c : result) {
            if (c == '.') c = ',';
        }
    }
    return result;
}
