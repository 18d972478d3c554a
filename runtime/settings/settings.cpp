#include "runtime/settings/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace settings {
namespace {

constexpr size_t READ_CHUNK = 64 * 1024;
// A longer line keeps only its first MAX_LINE bytes, so a file without line
// feeds cannot make the reader hold all of it.
constexpr size_t MAX_LINE = 16 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Calls onLine for each line of a regular file ('\n' separates lines; the last
// line needs no line feed) until it returns true. Anything but a regular file
// (a folder, a FIFO, a device) is refused before a byte is read: the file is
// opened without blocking and its type checked on the open descriptor, so a
// FIFO can never stall the reader.
bool ForEachLine(const std::filesystem::path& file, const std::function<bool(std::string_view)>& onLine) {
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string pending;
    char buffer[READ_CHUNK];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        std::string_view chunk(buffer, static_cast<size_t>(got));
        size_t start = 0;
        for (size_t nl = chunk.find('\n'); nl != std::string_view::npos; nl = chunk.find('\n', start)) {
            std::string_view piece = chunk.substr(start, nl - start);
            bool stop;
            if (pending.empty()) {
                stop = onLine(piece);
            } else {
                pending.append(piece.substr(0, MAX_LINE - pending.size()));
                stop = onLine(pending);
                pending.clear();
            }
            if (stop) return true;
            start = nl + 1;
        }
        std::string_view rest = chunk.substr(start);
        if (pending.size() < MAX_LINE) pending.append(rest.substr(0, MAX_LINE - pending.size()));
    }
    if (!pending.empty()) onLine(pending);
    return true;
}

// The [paths] game rule, one line at a time.
class GameFolderScanner {
public:
    // True once the line decided the result (stored in value).
    bool Line(std::string_view raw, std::string& value) {
        std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') return false;
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            size_t close = name.find(']');
            if (close != std::string_view::npos) name = name.substr(0, close);
            m_section = LowerAscii(Trim(name));
            return false;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || m_section != "paths") return false;
        if (LowerAscii(Trim(line.substr(0, eq))) != "game") return false;
        bool isString = false;
        value = ParseValue(line.substr(eq + 1), isString);
        return true;
    }

private:
    std::string m_section;
};

} // namespace

std::string_view Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string ParseValue(std::string_view raw, bool& isString) {
    std::string_view text = Trim(raw);
    isString = false;
    if (text.empty()) return {};
    if (text.front() == '"') {
        isString = true;
        text.remove_prefix(1);
        size_t close = text.find('"');
        return std::string(close == std::string_view::npos ? text : text.substr(0, close));
    }
    size_t hash = text.find('#');
    if (hash != std::string_view::npos) text = text.substr(0, hash);
    return std::string(Trim(text));
}

std::string GameFolderFromText(std::string_view text) {
    GameFolderScanner scanner;
    std::string value;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (scanner.Line(line, value)) return value;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return {};
}

std::string ReadGameFolder(const std::filesystem::path& userDataDir) {
    GameFolderScanner scanner;
    std::string value;
    bool found = false;
    ForEachLine(userDataDir / "settings.toml", [&](std::string_view line) {
        found = scanner.Line(line, value);
        return found;
    });
    return found ? value : std::string();
}

} // namespace settings
