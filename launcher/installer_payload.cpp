// Payload index, parallel extraction, stale-file removal, installed-files list
// and version file.
#include "launcher/installer_payload.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "launcher/setup_script.h"
#include "runtime/log.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/text.h"

namespace fs = std::filesystem;

Payload g_payload;

namespace {

constexpr size_t INDEX_LINE = 4096;
constexpr size_t LIST_LINE = 2048;
constexpr size_t COPY_BUFFER = 1048576;
constexpr unsigned MAX_WORKERS = 4;

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Cuts the text at the first carriage return or line feed.
void CutLine(char* line) {
    line[std::strcspn(line, "\r\n")] = '\0';
}

fs::path PathOf(const std::wstring& path) {
    return fs::path(plat::NarrowUtf8(path));
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void ParseIndexLine(const std::string& line, Payload& payload) {
    if (StartsWith(line, "tag ")) {
        payload.tag = line.substr(4);
        return;
    }
    const bool isFile = StartsWith(line, "file ");
    const bool isLink = StartsWith(line, "link ");
    if (!isFile && !isLink) return;
    const size_t componentEnd = line.find(' ', 5);
    if (componentEnd == std::string::npos) return;
    PayloadFile entry;
    entry.component = line.substr(5, componentEnd - 5);
    const std::string rest = line.substr(componentEnd + 1);
    if (isFile) {
        const size_t sizeEnd = rest.find(' ');
        if (sizeEnd == std::string::npos) return;
        entry.size = std::strtoull(rest.c_str(), nullptr, 10);
        entry.path = plat::WidenUtf8(rest.substr(sizeEnd + 1));
    } else {
        const size_t tab = rest.find('\t');
        if (tab == std::string::npos) return;
        entry.path = plat::WidenUtf8(rest.substr(0, tab));
        entry.link = rest.substr(tab + 1);
    }
    payload.files.push_back(std::move(entry));
}

// An entry may only name a place inside the destination: a relative path
// without ".." components.
bool StaysInside(const std::wstring& path) {
    if (path.empty() || path.front() == L'/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'/', start);
        if (end == std::wstring::npos) end = path.size();
        if (path.compare(start, end - start, L"..") == 0) return false;
        start = end + 1;
    }
    return true;
}

// The folders above an entry, as relative paths without the trailing "/".
template <typename F>
void ForEachParent(const std::wstring& path, F&& f) {
    for (size_t slash = path.find(L'/'); slash != std::wstring::npos; slash = path.find(L'/', slash + 1)) {
        f(path.substr(0, slash));
    }
}

// Every selected entry must stay inside the destination, and none may lie
// below a link the payload itself creates (writing through it could leave
// the destination). Returns the error for the first offending entry.
std::string CheckEntries(const std::vector<const PayloadFile*>& entries) {
    std::unordered_set<std::wstring> links;
    for (const PayloadFile* entry : entries) {
        if (!entry->link.empty()) links.insert(entry->path);
    }
    for (const PayloadFile* entry : entries) {
        bool below = false;
        if (!links.empty()) {
            ForEachParent(entry->path, [&](const std::wstring& parent) {
                if (links.count(parent)) below = true;
            });
        }
        if (!StaysInside(entry->path) || below) {
            return plat::NarrowUtf8(entry->path) + ": payload entry leads outside the install folder";
        }
    }
    return {};
}

struct ExtractRun {
    ExtractRun(const Payload& p, const fs::path& d, const std::vector<const PayloadFile*>& e, ExtractProgress& pr)
        : payload(p), destination(d), entries(e), progress(pr) {}

    const Payload& payload;
    const fs::path& destination;
    const std::vector<const PayloadFile*>& entries;
    ExtractProgress& progress;
    std::atomic<size_t> next{0};
    std::mutex errorMutex;
    std::string error;

    void Fail(const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(errorMutex);
            if (error.empty()) error = text;
        }
        progress.cancel.store(true);
    }

    void FailErrno(const fs::path& target) {
        Fail(target.string() + ": " + std::strerror(errno));
    }

    // Copies one regular file; false after recording a failure.
    bool Copy(const PayloadFile& entry, const fs::path& target, char* buffer) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(target, ec);
        if (!ec && fs::is_regular_file(status)) {
            const uintmax_t size = fs::file_size(target, ec);
            if (!ec && size == entry.size) {
                progress.done.fetch_add(entry.size);
                return true;
            }
        } else if (!ec && fs::is_symlink(status)) {
            // Opening a link for writing would write into whatever it points at.
            fs::remove(target, ec);
        }
        const fs::path source = payload.root / PathOf(entry.path);
        FilePtr in(std::fopen(source.c_str(), "rb"));
        if (!in) {
            FailErrno(target);
            return false;
        }
        FILE* out = std::fopen(target.c_str(), "wb");
        if (!out) {
            FailErrno(target);
            return false;
        }
        for (;;) {
            const size_t got = std::fread(buffer, 1, COPY_BUFFER, in.get());
            if (got == 0) break;
            if (std::fwrite(buffer, 1, got, out) != got) {
                const int saved = errno;
                std::fclose(out);
                errno = saved;
                FailErrno(target);
                return false;
            }
            progress.done.fetch_add(got);
        }
        if (std::fclose(out) != 0) {
            FailErrno(target);
            return false;
        }
        const fs::file_status sourceStatus = fs::status(source, ec);
        if (!ec) fs::permissions(target, sourceStatus.permissions(), fs::perm_options::replace, ec);
        return true;
    }

    void Work() {
        std::unique_ptr<char[]> buffer(new char[COPY_BUFFER]);
        while (!progress.cancel.load()) {
            const size_t index = next.fetch_add(1);
            if (index >= entries.size()) break;
            const PayloadFile& entry = *entries[index];
            const fs::path target = destination / PathOf(entry.path);
            std::string folderError;
            if (!CreateDirectories(target.parent_path(), folderError)) {
                Fail(folderError);
                break;
            }
            if (!entry.link.empty()) {
                std::error_code ec;
                fs::remove(target, ec);
                fs::create_symlink(entry.link, target, ec);
                continue;
            }
            if (!Copy(entry, target, buffer.get())) break;
        }
    }
};

} // namespace

uint64_t Payload::Bytes(const ComponentSet& skip) const {
    uint64_t sum = 0;
    for (const PayloadFile& file : files) {
        if (!skip.count(file.component)) sum += file.size;
    }
    return sum;
}

bool ReadPayloadIndex(const fs::path& root, Payload& payload) {
    FilePtr index(std::fopen((root / PAYLOAD_INDEX).c_str(), "rb"));
    if (!index) return false;
    payload = Payload{};
    payload.root = root;
    char line[INDEX_LINE];
    while (std::fgets(line, sizeof line, index.get())) {
        CutLine(line);
        ParseIndexLine(line, payload);
    }
    payload.present = !payload.files.empty();
    return true;
}

Payload ReadPayload() {
    std::vector<fs::path> candidates;
    const char* appDir = std::getenv("APPDIR");
    if (appDir && *appDir) candidates.push_back(fs::path(appDir) / "payload");
    const fs::path exe = plat::ExecutablePath();
    if (!exe.empty()) candidates.push_back(exe.parent_path().parent_path().parent_path() / "payload");
    Payload payload;
    for (const fs::path& root : candidates) {
        if (ReadPayloadIndex(root, payload)) return payload;
    }
    return Payload{};
}

unsigned ExtractWorkerCount(unsigned hardwareThreads) {
    if (hardwareThreads == 0) return 1;
    return std::min(hardwareThreads, MAX_WORKERS);
}

std::string ExtractPayload(const Payload& payload, const fs::path& destination, const ComponentSet& skip,
                           ExtractProgress& progress) {
    std::vector<const PayloadFile*> entries;
    for (const PayloadFile& file : payload.files) {
        if (!skip.count(file.component)) entries.push_back(&file);
    }
    std::string unsafe = CheckEntries(entries);
    if (!unsafe.empty()) return unsafe;
    for (const PayloadFile* entry : entries) progress.total.fetch_add(entry->size);

    ExtractRun run(payload, destination, entries, progress);
    const unsigned count = ExtractWorkerCount(std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    workers.reserve(count);
    for (unsigned i = 0; i < count; ++i) workers.emplace_back([&run] { run.Work(); });
    for (std::thread& worker : workers) worker.join();

    if (!run.error.empty()) return run.error;
    if (progress.cancel.load()) return "cancelled";
    return {};
}

bool CreateDirectories(const fs::path& folder, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        std::error_code isDirError;
        if (!fs::is_directory(folder, isDirError)) {
            error = folder.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void RemoveStaleFiles(const ComponentSet& skip) {
    const fs::path list = PlayDir() / INSTALLED_FILES;
    std::set<std::wstring> now;
    for (const PayloadFile& file : g_payload.files) {
        if (!skip.count(file.component)) now.insert(file.path);
    }
    if (FilePtr in{std::fopen(list.c_str(), "rb")}) {
        const fs::path root = Root();
        int removed = 0;
        char line[LIST_LINE];
        while (std::fgets(line, sizeof line, in.get())) {
            CutLine(line);
            const std::wstring path = plat::WidenUtf8(line);
            // Only plain relative paths inside the install root are ever removed.
            if (path.empty() || path.find(L"..") != std::wstring::npos || path.front() == L'/' ||
                now.count(path)) {
                continue;
            }
            std::error_code ec;
            if (fs::remove(root / PathOf(path), ec)) ++removed;
        }
        if (removed != 0) Log("[setup] %d file(s) of the previous version removed", removed);
    }
    if (FilePtr out{std::fopen(list.c_str(), "wb")}) {
        for (const std::wstring& path : now) std::fprintf(out.get(), "%s\n", plat::NarrowUtf8(path).c_str());
    }
}

bool WriteVersionFile() {
    if (g_payload.tag.empty()) return false;
    FilePtr out(std::fopen((PlayDir() / VERSION_FILE).c_str(), "wb"));
    if (!out) return false;
    return std::fprintf(out.get(), "%s\n", g_payload.tag.c_str()) >= 0;
}
