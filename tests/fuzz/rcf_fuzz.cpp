// The RCF reader over an archive file: the input is written as the game
// folder's default.rcf, opened through the mount table, and every indexed
// entry (and the three menu packages) is read.
#include "runtime/fs/vfs.h"
#include "runtime/settings/menu_art_internal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::filesystem::path& GameFolder() {
    static const std::filesystem::path folder = [] {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/rcf-fuzz-XXXXXX";
        std::filesystem::create_directories(std::filesystem::path(pattern).parent_path());
        const char* made = mkdtemp(pattern.data());
        const std::filesystem::path p = made ? made : "/tmp";
        vfs::Init({p, {}, p / "userdata"});
        return p;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path archive = GameFolder() / "default.rcf";
    if (std::FILE* f = std::fopen(archive.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    settings::menu_art::Rcf rcf;
    if (!settings::menu_art::OpenRcf(rcf)) return 0;
    std::vector<unsigned char> bytes;
    std::string source;
    size_t total = 0;
    for (const auto& [name, range] : rcf.entries) {
        (void)range;
        if (settings::menu_art::ReadEntry(rcf, name, bytes, source)) total += bytes.size();
    }
    for (const char* package : {settings::menu_art::PACKAGE_PERSISTENT, settings::menu_art::PACKAGE_INGAME,
                                settings::menu_art::PACKAGE_FRONTEND})
        if (settings::menu_art::ReadEntry(rcf, package, bytes, source)) total += bytes.size();
    return total == size_t(-1);
}
