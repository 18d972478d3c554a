// Guest paths and wildcard patterns from arbitrary bytes. Input: a base
// directory path, NUL, the guest path, NUL, a wildcard pattern, NUL, a name.
// A parsed path never leaves its mount, and its host path stays below the
// mount's folder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "runtime/fs/vfs.h"

namespace {

namespace fs = std::filesystem;

fs::path g_root;

void InitOnce() {
    if (!g_root.empty()) return;
    std::string tmpl = (fs::temp_directory_path() / "vfs-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    g_root = tmpl;
    fs::create_directories(g_root / "game" / "Art");
    fs::create_directories(g_root / "mods");
    fs::create_directories(g_root / "user");
    vfs::Init({g_root / "game", g_root / "mods", g_root / "user"});
    vfs::MountContent("dlc", g_root / "user");
}

std::string_view Next(std::string_view& input) {
    const size_t nul = input.find('\0');
    const std::string_view part = input.substr(0, nul);
    input = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    return part;
}

void Check(const vfs::VirtualPath& path) {
    if (!path.mount) return;
    const std::string& rel = path.relative;
    if (!rel.empty() && (rel.front() == '\\' || rel.back() == '\\')) std::abort();
    if (rel.find('\0') != std::string::npos || rel.find("\\\\") != std::string::npos) std::abort();
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('\\', start);
        if (end == std::string::npos) end = rel.size();
        const std::string_view part(rel.data() + start, end - start);
        if (part == ".." || part == ".") std::abort();
        start = end + 1;
    }
    const fs::path host = vfs::WritableHostPath(path).lexically_normal();
    const fs::path root = path.mount->root.lexically_normal();
    const std::string h = host.string(), r = root.string();
    if (h.compare(0, r.size(), r) != 0) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InitOnce();
    std::string_view input(size ? reinterpret_cast<const char*>(data) : "", size);
    const std::string_view base = Next(input);
    const std::string_view guest = Next(input);
    const std::string_view pattern = Next(input);
    const std::string_view name = Next(input);

    const auto directory = vfs::Parse(base, nullptr);
    if (directory) Check(*directory);
    const auto path = vfs::Parse(guest, directory ? &*directory : nullptr);
    if (path) {
        Check(*path);
        (void)path->Display();
    }
    (void)vfs::MatchWildcard(pattern.substr(0, 256), name.substr(0, 256));
    return 0;
}
