#include "runtime/fs/vfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "runtime/log.h"

namespace fs = std::filesystem;

namespace vfs {
namespace {

struct ContentMount {
    std::string prefix;   // lower-cased root name + ":"
    std::string display;  // root name as first given + ":"
    Mount mount;          // mount.display points at display
    bool active = false;
};

struct Prefix {
    const char* text;
    Mount* mount;
};

// The mount table lives for the whole process and is never destroyed: the
// game-art loader runs detached and may still be reading through it while
// the program exits.
Mount& g_game = *new Mount{"D:", {}, false, true};
Mount& g_hdd = *new Mount{"hdd:", {}, true, false};
Mount& g_cache = *new Mount{"cache:", {}, true, false};
std::deque<ContentMount>& g_contentMounts = *new std::deque<ContentMount>;
std::vector<ModInfo>& g_mods = *new std::vector<ModInfo>;
fs::path& g_userDataDir = *new fs::path;
std::mutex& g_contentMutex = *new std::mutex;

const Prefix PREFIXES[] = {
    {"\\device\\harddisk0\\partition1", &g_hdd},
    {"\\device\\harddisk0\\cache0", &g_cache},
    {"\\device\\cdrom0", &g_game},
    {"game:", &g_game},
    {"dvd:", &g_game},
    {"d:", &g_game},
    {"hdd:", &g_hdd},
    {"e:", &g_hdd},
    {"cache:", &g_cache},
    {"z:", &g_cache},
};

constexpr size_t MAX_CONTENT_NAME = 32;
constexpr size_t MAX_LOAD_ORDER_BYTES = 16 * 1024 * 1024;
constexpr size_t MAX_LOGGED_NAME = 200;

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The lower-cased path begins with prefix, and ends there or goes on with a separator.
bool MatchesPrefix(std::string_view lowerPath, std::string_view prefix) {
    if (lowerPath.substr(0, prefix.size()) != prefix) return false;
    return lowerPath.size() == prefix.size() || IsSeparator(lowerPath[prefix.size()]);
}

template <typename Fn>
void ForEachComponent(std::string_view path, Fn&& fn) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (end > start) fn(path.substr(start, end - start));
        start = end + 1;
    }
}

// A mount's root. Content mounts can be re-pointed by another thread, so
// their root is copied under the lock; the fixed mounts change only in Init.
fs::path MountRoot(const Mount* mount) {
    if (mount == &g_game || mount == &g_hdd || mount == &g_cache) return mount->root;
    std::lock_guard<std::mutex> lock(g_contentMutex);
    return mount->root;
}

// ---------------------------------------------------------------------------
// Folder listings for the case-insensitive lookup.
//
// Finding "DEFAULT.RCF" as "default.rcf" means reading the folder. Each folder
// read is kept (the names as spelled with their entry types, and for each
// lower-cased name the first entry in directory order that lowers to it),
// keyed by the folder's host path and stamped with the folder's device, inode
// and modification time. A lookup then costs one stat per path component,
// whether the name exists as written, in another case, or not at all (only
// symbolic links and entries of unknown type are stat'ed). A lookup stats the
// folder and uses the listing only when the stamp is unchanged: creating,
// removing or renaming an entry changes the folder's modification time, and
// replacing the folder changes its inode. Timestamps have a granularity (a
// kernel tick on nanosecond file systems, whole seconds on others), so a
// change made in the same tick as the read would leave the stamp equal: a
// listing read while the folder's time was that recent is not trusted and the
// folder is read again on the next lookup, until its time is old enough.
// Changes inside subfolders do not touch the parent's time and need no
// invalidation: each subfolder has its own listing. A changed file's contents
// or a symbolic link's target never matter: only names and types are kept.
// Init drops every listing; at most MAX_LISTINGS folders are kept.
// ---------------------------------------------------------------------------

struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
};

// One folder entry: its name as spelled on disk and its type from the
// directory (DT_UNKNOWN and DT_LNK need a stat to know more).
struct Entry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
};

struct Listing {
    Stamp stamp;
    std::unordered_map<std::string, unsigned char> exact;  // name -> type
    std::unordered_map<std::string, Entry> byLower;        // first entry per lower-cased name
};

constexpr size_t MAX_LISTINGS = 4096;
constexpr long FINE_TICK_NS = 50L * 1000 * 1000;  // margin for nanosecond time stamps
constexpr long COARSE_TICK_S = 2;                 // whole-second (or FAT 2 s) time stamps

// Never destroyed, like the mount table.
std::mutex& g_listingMutex = *new std::mutex;
std::unordered_map<std::string, std::shared_ptr<const Listing>>& g_listings =
    *new std::unordered_map<std::string, std::shared_ptr<const Listing>>;

bool SameStamp(const Stamp& a, const Stamp& b) {
    return a.dev == b.dev && a.ino == b.ino && a.mtime.tv_sec == b.mtime.tv_sec &&
           a.mtime.tv_nsec == b.mtime.tv_nsec;
}

bool ReadStamp(const fs::path& folder, Stamp& stamp) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    stamp.dev = st.st_dev;
    stamp.ino = st.st_ino;
    stamp.mtime = st.st_mtim;
    return true;
}

// The folder's time is far enough behind now that any later change must show.
bool StampSettled(const Stamp& stamp, const struct timespec& now) {
    long long ageNs = (static_cast<long long>(now.tv_sec) - stamp.mtime.tv_sec) * 1000000000LL +
                      (now.tv_nsec - stamp.mtime.tv_nsec);
    if (stamp.mtime.tv_nsec == 0) return ageNs > COARSE_TICK_S * 1000000000LL;
    return ageNs > FINE_TICK_NS;
}

bool ReadListing(const fs::path& folder, Listing& listing) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        listing.exact.emplace(std::string(name), entry->d_type);
        listing.byLower.emplace(Lower(name), Entry{std::string(name), entry->d_type});
    }
    ::closedir(dir);
    return true;
}

// The current listing of folder: the kept one while its stamp holds, else a
// fresh read (kept when the folder's time has settled). Null when folder is
// a folder that cannot be read; missing (false) when it is no folder at all.
bool CurrentListing(const fs::path& folder, std::shared_ptr<const Listing>& out) {
    out.reset();
    Stamp stamp;
    if (!ReadStamp(folder, stamp)) return false;
    const std::string& key = folder.native();
    {
        std::lock_guard<std::mutex> lock(g_listingMutex);
        auto it = g_listings.find(key);
        if (it != g_listings.end() && SameStamp(it->second->stamp, stamp)) {
            out = it->second;
            return true;
        }
    }
    auto listing = std::make_shared<Listing>();
    listing->stamp = stamp;
    if (!ReadListing(folder, *listing)) return true;
    out = listing;

    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Stamp after;
    const bool keep = StampSettled(stamp, now) && ReadStamp(folder, after) && SameStamp(after, stamp);
    std::lock_guard<std::mutex> lock(g_listingMutex);
    if (keep) {
        if (g_listings.size() >= MAX_LISTINGS) g_listings.clear();
        g_listings[key] = std::move(listing);
    } else {
        g_listings.erase(key);
    }
    return true;
}

void DropListings() {
    std::lock_guard<std::mutex> lock(g_listingMutex);
    g_listings.clear();
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// What a resolution knows about the host path it gives.
enum class Known { Unknown, Exists, Missing };

// An entry type that tells, without a stat, that the name exists.
bool TypeExists(unsigned char type) { return type != DT_UNKNOWN && type != DT_LNK; }

// Case-insensitive resolution of relative under root: each component is used
// as written when that exists, else as the first entry of the folder (in
// directory order) that matches it ignoring case, else as written. Answered
// from the folder listings; known tells whether the result exists (Unknown
// where only a stat can say, e.g. for symbolic links). Errors never throw.
fs::path HostPath(const fs::path& root, std::string_view relative, Known* known = nullptr) {
    fs::path host = root;
    Known state = relative.empty() ? Known::Unknown : Known::Exists;
    ForEachComponent(relative, [&](std::string_view component) {
        if (state == Known::Missing) {  // nothing below a missing name exists
            host /= std::string(component);
            return;
        }
        std::shared_ptr<const Listing> listing;
        if (!CurrentListing(host, listing)) {
            state = Known::Missing;  // not a folder (or not reachable): nothing inside
            host /= std::string(component);
            return;
        }
        const std::string written(component);
        if (!listing) {  // a folder that cannot be listed: only the name as written can be tried
            state = Known::Unknown;
            host /= written;
            return;
        }
        if (auto exact = listing->exact.find(written); exact != listing->exact.end()) {
            if (TypeExists(exact->second) || Exists(host / written)) {
                state = Known::Exists;
                host /= written;
                return;
            }
        }
        auto match = listing->byLower.find(Lower(component));
        if (match == listing->byLower.end()) {
            state = Known::Missing;
            host /= written;
            return;
        }
        state = TypeExists(match->second.type) ? Known::Exists : Known::Unknown;
        host /= match->second.name;
    });
    if (known) *known = state;
    return host;
}

// The host path exists (asking the system only when the listings cannot tell).
bool HostExists(const fs::path& host, Known known) {
    if (known == Known::Unknown) return Exists(host);
    return known == Known::Exists;
}

// The whole text of a regular file, refusing folders, FIFOs and devices
// before reading (opened without blocking) and files over maxBytes.
bool ReadRegularFile(const fs::path& file, size_t maxBytes, std::string& text) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) <= maxBytes;
    text.clear();
    char buffer[64 * 1024];
    while (ok) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (text.size() + static_cast<size_t>(got) > maxBytes) ok = false;
        else text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return ok;
}

std::string ShortName(std::string_view name) {
    if (name.size() <= MAX_LOGGED_NAME) return std::string(name);
    return std::string(name.substr(0, MAX_LOGGED_NAME)) + "...";
}

void LoadMods(const fs::path& modsDir) {
    std::error_code ec;
    if (modsDir.empty() || !fs::is_directory(modsDir, ec)) return;

    std::vector<std::string> enabled;
    for (fs::directory_iterator it(modsDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().native();
        if (name.empty() || name.front() == '.' || name.front() == '_') continue;
        std::error_code typeError;
        if (!it->is_directory(typeError) || typeError) continue;
        enabled.push_back(std::move(name));
    }
    std::stable_sort(enabled.begin(), enabled.end(),
                     [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });

    std::string loadOrder;
    const fs::path orderFile = modsDir / "load_order.txt";
    std::error_code existsError;
    if (fs::exists(orderFile, existsError) && !ReadRegularFile(orderFile, MAX_LOAD_ORDER_BYTES, loadOrder)) {
        Log("[fs] could not read %s (ignored)", orderFile.c_str());
        loadOrder.clear();
    }
    std::vector<std::string> notEnabled;
    for (const std::string& name : OrderMods(std::move(enabled), loadOrder, &notEnabled)) {
        g_mods.push_back({name, modsDir / name});
    }
    for (const std::string& name : notEnabled) {
        Log("[fs] load_order.txt names \"%s\", which is not an enabled mod folder", ShortName(name).c_str());
    }
}

} // namespace

std::string VirtualPath::Display() const {
    std::string out = mount ? mount->display : "?:";
    out += '\\';
    out += relative;
    return out;
}

bool VirtualPath::Writable() const { return mount && mount->writable; }

std::vector<std::string> OrderMods(std::vector<std::string> enabledSorted, std::string_view loadOrder,
                                   std::vector<std::string>* notEnabled) {
    std::vector<std::string> lowered;
    lowered.reserve(enabledSorted.size());
    for (const std::string& name : enabledSorted) lowered.push_back(Lower(name));
    std::vector<bool> taken(enabledSorted.size(), false);
    std::vector<std::string> ordered;

    size_t start = 0;
    while (start < loadOrder.size()) {
        size_t nl = loadOrder.find('\n', start);
        std::string_view line = loadOrder.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? loadOrder.size() : nl + 1;

        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;

        const std::string wanted = Lower(line);
        bool found = false;
        for (size_t i = 0; i < enabledSorted.size(); ++i) {
            if (!taken[i] && lowered[i] == wanted) {
                taken[i] = true;
                ordered.push_back(enabledSorted[i]);
                found = true;
                break;
            }
        }
        if (!found && notEnabled) notEnabled->emplace_back(line);
    }
    for (size_t i = 0; i < enabledSorted.size(); ++i) {
        if (!taken[i]) ordered.push_back(std::move(enabledSorted[i]));
    }
    return ordered;
}

void Init(const Config& config) {
    g_userDataDir = config.userDataDir;
    g_game.root = config.gameRoot;
    g_hdd.root = config.userDataDir / "hdd";
    g_cache.root = config.userDataDir / "cache";
    DropListings();

    g_mods.clear();
    LoadMods(config.modsDir);

    std::error_code ec;
    Log("[fs] game folder: %s%s", config.gameRoot.c_str(), fs::is_directory(config.gameRoot, ec) ? "" : " (MISSING)");
    Log("[fs] mods folder: %s, %zu mod(s)", config.modsDir.c_str(), g_mods.size());
    for (size_t i = 0; i < g_mods.size(); ++i) Log("[fs]   %zu. %s", i + 1, g_mods[i].name.c_str());
    Log("[fs] user data: %s", config.userDataDir.c_str());
}

const fs::path& UserDataDir() { return g_userDataDir; }
const fs::path& GameDir() { return g_game.root; }
const std::vector<ModInfo>& Mods() { return g_mods; }

void AddMod(const ModInfo& mod) {
    g_mods.push_back(mod);
    Log("[fs]   %zu. %s (%s)", g_mods.size(), mod.name.c_str(), mod.root.c_str());
}

std::optional<VirtualPath> Parse(std::string_view guestPath, const VirtualPath* directory) {
    // A NUL byte would cut the host name short at the system call, after the
    // ".." checks below ran on the longer text.
    if (guestPath.find('\0') != std::string_view::npos) return std::nullopt;
    std::string_view path = guestPath;
    if (path.size() > 3 && path.substr(0, 4) == "\\??\\") path.remove_prefix(4);
    const std::string lower = Lower(path);

    const Mount* mount = nullptr;
    std::string_view rest = path;
    for (const Prefix& prefix : PREFIXES) {
        if (MatchesPrefix(lower, prefix.text)) {
            mount = prefix.mount;
            rest = path.substr(std::char_traits<char>::length(prefix.text));
            break;
        }
    }
    if (!mount) {
        std::lock_guard<std::mutex> lock(g_contentMutex);
        for (const ContentMount& content : g_contentMounts) {
            if (content.active && MatchesPrefix(lower, content.prefix)) {
                mount = &content.mount;
                rest = path.substr(content.prefix.size());
                break;
            }
        }
    }

    std::vector<std::string_view> components;
    auto add = [&components](std::string_view component) {
        if (component == ".") return true;
        if (component == "..") {
            if (components.empty()) return false;
            components.pop_back();
            return true;
        }
        components.push_back(component);
        return true;
    };
    if (!mount) {
        if (!directory || !directory->mount || (!path.empty() && IsSeparator(path.front()))) return std::nullopt;
        mount = directory->mount;
        ForEachComponent(directory->relative, [&](std::string_view c) { components.push_back(c); });
    }
    bool inside = true;
    ForEachComponent(rest, [&](std::string_view c) {
        if (inside) inside = add(c);
    });
    if (!inside) return std::nullopt;

    VirtualPath result;
    result.mount = mount;
    for (size_t i = 0; i < components.size(); ++i) {
        if (i) result.relative += '\\';
        result.relative.append(components[i]);
    }
    return result;
}

std::optional<Location> Locate(const VirtualPath& path) {
    if (!path.mount) return std::nullopt;
    if (path.mount->overlay) {
        for (const ModInfo& mod : g_mods) {
            Known known;
            fs::path host = HostPath(mod.root, path.relative, &known);
            if (HostExists(host, known)) return Location{std::move(host), "mod " + mod.name};
        }
    }
    const fs::path root = MountRoot(path.mount);
    Known known;
    fs::path host = HostPath(root, path.relative, &known);
    if (HostExists(host, known)) return Location{std::move(host), path.mount->writable ? "userdata" : "game"};
    if (path.mount->writable && path.relative.empty()) return Location{root, "userdata"};
    return std::nullopt;
}

fs::path WritableHostPath(const VirtualPath& path) {
    if (!path.mount) return {};
    return HostPath(MountRoot(path.mount), path.relative);
}

std::vector<DirectoryEntry> List(const VirtualPath& directory) {
    std::vector<DirectoryEntry> entries;
    if (!directory.mount) return entries;
    std::vector<fs::path> roots;
    if (directory.mount->overlay) {
        for (const ModInfo& mod : g_mods) roots.push_back(mod.root);
    }
    roots.push_back(MountRoot(directory.mount));

    std::unordered_set<std::string> seen;
    for (const fs::path& root : roots) {
        fs::path host = HostPath(root, directory.relative);
        std::error_code ec;
        if (!fs::is_directory(host, ec)) continue;
        for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().native();
            if (seen.insert(Lower(name)).second) entries.push_back({std::move(name), it->path()});
        }
    }
    return entries;
}

bool MountContent(std::string_view rootName, const fs::path& host) {
    if (rootName.empty() || rootName.size() > MAX_CONTENT_NAME) return false;
    if (rootName.find_first_of("/\\:") != std::string_view::npos) return false;
    const std::string prefix = Lower(rootName) + ":";
    std::lock_guard<std::mutex> lock(g_contentMutex);
    ContentMount* entry = nullptr;
    for (ContentMount& content : g_contentMounts) {
        if (content.prefix == prefix) {
            entry = &content;
            break;
        }
    }
    if (!entry) {
        entry = &g_contentMounts.emplace_back();
        entry->prefix = prefix;
        entry->display = std::string(rootName) + ":";
        entry->mount.display = entry->display.c_str();
        entry->mount.writable = true;
        entry->mount.overlay = false;
    }
    entry->mount.root = host;
    entry->active = true;
    return true;
}

void UnmountContent(std::string_view rootName) {
    const std::string prefix = Lower(rootName) + ":";
    std::lock_guard<std::mutex> lock(g_contentMutex);
    for (ContentMount& content : g_contentMounts) {
        if (content.prefix == prefix) content.active = false;
    }
}

bool MatchWildcard(std::string_view pattern, std::string_view name) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            ++n;
        } else if (p < pattern.size() && LowerChar(pattern[p]) == LowerChar(name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p;
            starN = n;
            ++p;
        } else {
            if (starP == std::string_view::npos) return false;
            n = ++starN;
            p = starP + 1;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    if (p + 1 == pattern.size() && pattern[p] == '.') ++p;
    return p == pattern.size();
}

} // namespace vfs
