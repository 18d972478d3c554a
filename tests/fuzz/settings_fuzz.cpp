// settings.toml reader: the remembered game folder from arbitrary text, read
// both from memory and through the file reader (which must agree), plus the
// value grammar on every line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "runtime/settings/settings.h"

namespace {

std::filesystem::path g_dir;

void RemoveDir() {
    std::error_code ec;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}

const std::filesystem::path& Dir() {
    if (g_dir.empty()) {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/settings-fuzz-XXXXXX";
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(pattern).parent_path(), ec);
        if (::mkdtemp(pattern.data())) {
            g_dir = pattern;
            std::atexit(RemoveDir);
        }
    }
    return g_dir;
}

bool WriteAll(const std::filesystem::path& file, std::string_view text) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
    }
    ::close(fd);
    return done == text.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(size ? reinterpret_cast<const char*>(data) : "", size);

    const std::string fromText = settings::GameFolderFromText(text);
    if (!Dir().empty() && WriteAll(Dir() / "settings.toml", text)) {
        if (settings::ReadGameFolder(Dir()) != fromText) __builtin_trap();
    }

    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        std::string_view trimmed = settings::Trim(line);
        if (trimmed.size() > line.size()) __builtin_trap();
        bool isString = false;
        std::string value = settings::ParseValue(line, isString);
        // A value is always a piece of its line.
        if (value.size() > line.size() || line.find(value) == std::string_view::npos) __builtin_trap();
        if (!isString && value != settings::Trim(value)) __builtin_trap();
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return 0;
}
