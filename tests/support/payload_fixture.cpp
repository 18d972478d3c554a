// Payload trees for the installer's tests, tools and benchmarks.
#include "tests/support/payload_fixture.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>
#include <unistd.h>

namespace fs = std::filesystem;

namespace payload_fixture {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string Errno(const fs::path& path) {
    return path.string() + ": " + std::strerror(errno);
}

// xorshift64* stream: cheap, deterministic, incompressible enough.
struct Stream {
    uint64_t state;
    explicit Stream(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    void Fill(char* out, size_t size) {
        for (size_t i = 0; i < size; i += 8) {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            const uint64_t word = state * 0x2545F4914F6CDD1Dull;
            const size_t n = size - i < 8 ? size - i : 8;
            std::memcpy(out + i, &word, n);
        }
    }
};

std::string WriteEntryFile(const fs::path& target, const Entry& entry) {
    std::error_code ec;
    if (!entry.source.empty()) {
        fs::copy_file(entry.source, target, fs::copy_options::overwrite_existing, ec);
        if (ec) return target.string() + ": " + ec.message();
    } else {
        FilePtr out(std::fopen(target.c_str(), "wb"));
        if (!out) return Errno(target);
        if (!entry.content.empty() &&
            std::fwrite(entry.content.data(), 1, entry.content.size(), out.get()) != entry.content.size()) {
            return Errno(target);
        }
        if (std::fclose(out.release()) != 0) return Errno(target);
    }
    fs::permissions(target, entry.executable ? fs::perms(0755) : fs::perms(0644), fs::perm_options::replace, ec);
    return {};
}

} // namespace

void UseTemporaryHome(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    setenv("HOME", folder.c_str(), 1);
    const std::pair<const char*, const char*> xdg[] = {
        {"XDG_CONFIG_HOME", ".config"}, {"XDG_DATA_HOME", ".local/share"}, {"XDG_CACHE_HOME", ".cache"}};
    for (const auto& [name, sub] : xdg) {
        fs::create_directories(folder / sub, ec);
        setenv(name, (folder / sub).c_str(), 1);
    }
}

void AgeFiles(const fs::path& root) {
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 5);
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && !e.is_symlink()) fs::last_write_time(e.path(), old);
    }
}

std::set<std::string> Rewritten(const fs::path& root) {
    const auto recent = fs::file_time_type::clock::now() - std::chrono::hours(24);
    std::set<std::string> files;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && !e.is_symlink() && fs::last_write_time(e.path()) > recent) {
            files.insert(e.path().lexically_relative(root).string());
        }
    }
    return files;
}

std::string Bytes(uint64_t seed, size_t size) {
    std::string data(size, '\0');
    Stream(seed).Fill(data.data(), size);
    return data;
}

std::vector<Entry> SampleEntries(const fs::path& setupScript, const fs::path& python) {
    std::vector<Entry> entries = {
        {"base", "tools/a b.py", "print('a b')\n", "", {}, false},
        {"base", "tools/setup.py", "", "", setupScript, true},
        {"base", "bin/run game.sh", "#!/bin/sh\necho run\n", "", {}, true},
        {"base", "data/empty.bin", "", "", {}, false},
        {"base", "data/big.bin", Bytes(1, 1048576 * 2 + 12345), "", {}, false},
        {"base", "data/deep/er/still deeper/ação.txt", "acentuação\n", "", {}, false},
        {"base", "lib/libx.so.1", Bytes(2, 4096), "", {}, false},
        {"base", "lib/libx.so", "", "libx.so.1", {}, false},
        {"modding", "modding/readme.txt", "mods go here\n", "", {}, false},
        {"modding", "modding/tools/unpack.bin", Bytes(3, 70000), "", {}, false},
        {"dlss", "thirdparty/dlss/bin/libnvidia-ngx-dlss.so.3.7.0", Bytes(4, 30000), "", {}, false},
        {"dlss", "thirdparty/dlss/bin/libnvidia-ngx-dlss.so", "", "libnvidia-ngx-dlss.so.3.7.0", {}, false},
    };
    if (!python.empty()) entries.push_back({"base", "toolchain/python/bin/python3", "", python.string(), {}, false});
    return entries;
}

std::string WritePayload(const fs::path& root, const std::string& tag, const std::vector<Entry>& entries) {
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) return root.string() + ": " + ec.message();
    const fs::path indexPath = root / ".velkorrecomp_payload";
    FilePtr index(std::fopen(indexPath.c_str(), "wb"));
    if (!index) return Errno(indexPath);
    if (!tag.empty()) std::fprintf(index.get(), "tag %s\n", tag.c_str());
    for (const Entry& entry : entries) {
        const fs::path target = root / entry.path;
        fs::create_directories(target.parent_path(), ec);
        if (ec) return target.parent_path().string() + ": " + ec.message();
        if (!entry.link.empty()) {
            fs::remove(target, ec);
            fs::create_symlink(entry.link, target, ec);
            if (ec) return target.string() + ": " + ec.message();
            std::fprintf(index.get(), "link %s %s\t%s\n", entry.component.c_str(), entry.path.c_str(),
                         entry.link.c_str());
            continue;
        }
        std::string error = WriteEntryFile(target, entry);
        if (!error.empty()) return error;
        const uintmax_t size = fs::file_size(target, ec);
        if (ec) return target.string() + ": " + ec.message();
        std::fprintf(index.get(), "file %s %llu %s\n", entry.component.c_str(), static_cast<unsigned long long>(size),
                     entry.path.c_str());
    }
    if (std::fclose(index.release()) != 0) return Errno(indexPath);
    return {};
}

std::string WriteBulkPayload(const fs::path& root, size_t count, uint64_t bytes, const std::string& tag) {
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) return root.string() + ": " + ec.message();
    const fs::path indexPath = root / ".velkorrecomp_payload";
    FilePtr index(std::fopen(indexPath.c_str(), "wb"));
    if (!index) return Errno(indexPath);
    if (!tag.empty()) std::fprintf(index.get(), "tag %s\n", tag.c_str());
    constexpr size_t CHUNK = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[CHUNK]);
    const uint64_t each = count ? bytes / count : 0;
    for (size_t i = 0; i < count; ++i) {
        // Sizes vary around the mean (half to one and a half times it) and
        // still add up to `bytes`.
        uint64_t size = each / 2 + (each * (i % 11)) / 10;
        if (i + 1 == count) {
            uint64_t before = 0;
            for (size_t j = 0; j + 1 < count; ++j) before += each / 2 + (each * (j % 11)) / 10;
            size = bytes > before ? bytes - before : 0;
        }
        char name[96];
        std::snprintf(name, sizeof name, "set %02zu/group %03zu/file %05zu.bin", i % 16, (i / 16) % 64, i);
        const fs::path target = root / name;
        fs::create_directories(target.parent_path(), ec);
        if (ec) return target.parent_path().string() + ": " + ec.message();
        FilePtr out(std::fopen(target.c_str(), "wb"));
        if (!out) return Errno(target);
        Stream stream(i + 1);
        for (uint64_t left = size; left > 0;) {
            const size_t n = left < CHUNK ? static_cast<size_t>(left) : CHUNK;
            stream.Fill(buffer.get(), n);
            if (std::fwrite(buffer.get(), 1, n, out.get()) != n) return Errno(target);
            left -= n;
        }
        if (std::fclose(out.release()) != 0) return Errno(target);
        std::fprintf(index.get(), "file base %llu %s\n", static_cast<unsigned long long>(size), name);
    }
    if (std::fclose(index.release()) != 0) return Errno(indexPath);
    return {};
}

} // namespace payload_fixture
