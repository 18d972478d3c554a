// velkor-make-payload [--tag TAG] [--component NAME=PATH]... FOLDER
//
// Writes the payload index FOLDER/.velkorrecomp_payload of a single-file
// installer from what the folder holds: one "file" line per regular file with
// its size, one "link" line per symbolic link with its target, in a stable
// (sorted) order. Every entry belongs to component "base" unless a
// --component option names a folder or file (relative to FOLDER) it lies in;
// the longest such path wins. Folders are not listed: the installer creates
// them on demand.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* INDEX_NAME = ".velkorrecomp_payload";
// The installer reads the index with a buffer of this size per line.
constexpr size_t LINE_LIMIT = 4095;

struct Rule {
    std::string component;
    std::string path; // relative, "/" separators, no trailing "/"
};

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--tag TAG] [--component NAME=PATH]... FOLDER\n"
                 "writes FOLDER/%s listing every file and link below FOLDER\n",
                 program, INDEX_NAME);
    return 2;
}

std::string ComponentOf(const std::string& relative, const std::vector<Rule>& rules) {
    const Rule* best = nullptr;
    for (const Rule& rule : rules) {
        const bool inside = relative == rule.path ||
                            (relative.size() > rule.path.size() && relative.compare(0, rule.path.size(), rule.path) == 0 &&
                             relative[rule.path.size()] == '/');
        if (inside && (!best || rule.path.size() > best->path.size())) best = &rule;
    }
    return best ? best->component : "base";
}

bool Printable(const std::string& text) {
    return text.find_first_of("\r\n\t") == std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
    std::string tag;
    std::vector<Rule> rules;
    fs::path folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return Usage(argv[0]);
        if (arg == "--tag" && i + 1 < argc) {
            tag = argv[++i];
        } else if (arg == "--component" && i + 1 < argc) {
            const std::string rule = argv[++i];
            const size_t eq = rule.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == rule.size() || rule.find(' ') < eq) {
                std::fprintf(stderr, "velkor-make-payload: bad --component %s (NAME=PATH)\n", rule.c_str());
                return 2;
            }
            std::string path = fs::path(rule.substr(eq + 1)).lexically_normal().generic_string();
            while (!path.empty() && path.back() == '/') path.pop_back();
            rules.push_back({rule.substr(0, eq), path});
        } else if (folder.empty() && arg.rfind("--", 0) != 0) {
            folder = arg;
        } else {
            return Usage(argv[0]);
        }
    }
    if (folder.empty()) return Usage(argv[0]);
    if (!Printable(tag)) {
        std::fprintf(stderr, "velkor-make-payload: the tag cannot hold line breaks or tabs\n");
        return 2;
    }

    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "velkor-make-payload: %s is not a folder\n", folder.c_str());
        return 1;
    }

    std::vector<std::pair<std::string, std::string>> lines; // sort key, line
    uint64_t bytes = 0;
    size_t files = 0;
    size_t links = 0;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) {
        std::fprintf(stderr, "velkor-make-payload: %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path path = it->path();
        const std::string relative = path.lexically_relative(folder).generic_string();
        if (relative == INDEX_NAME || relative == std::string(INDEX_NAME) + ".new") continue;
        const fs::file_status status = it->symlink_status(ec);
        if (ec) break;
        if (!Printable(relative)) {
            std::fprintf(stderr, "velkor-make-payload: %s: a name with a line break or tab cannot be listed\n",
                         path.c_str());
            return 1;
        }
        const std::string component = ComponentOf(relative, rules);
        std::string line;
        if (fs::is_symlink(status)) {
            const std::string target = fs::read_symlink(path, ec).string();
            if (ec) break;
            if (!Printable(target)) {
                std::fprintf(stderr, "velkor-make-payload: %s: a link target with a line break or tab\n",
                             path.c_str());
                return 1;
            }
            line = "link " + component + " " + relative + "\t" + target;
            ++links;
        } else if (fs::is_regular_file(status)) {
            const uintmax_t size = fs::file_size(path, ec);
            if (ec) break;
            line = "file " + component + " " + std::to_string(size) + " " + relative;
            bytes += size;
            ++files;
        } else {
            continue; // folders are implied; other kinds are not part of a payload
        }
        if (line.size() > LINE_LIMIT) {
            std::fprintf(stderr, "velkor-make-payload: %s: path too long for the index\n", path.c_str());
            return 1;
        }
        lines.emplace_back(relative, line);
    }
    if (ec) {
        std::fprintf(stderr, "velkor-make-payload: %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(lines.begin(), lines.end());

    // Written beside the final name and renamed, so a reader never sees half
    // an index.
    const fs::path index = folder / INDEX_NAME;
    const fs::path partial = folder / (std::string(INDEX_NAME) + ".new");
    FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "velkor-make-payload: cannot write %s\n", partial.c_str());
        return 1;
    }
    bool ok = true;
    if (!tag.empty()) ok = std::fprintf(out, "tag %s\n", tag.c_str()) > 0;
    for (const auto& entry : lines) ok = ok && std::fprintf(out, "%s\n", entry.second.c_str()) > 0;
    ok = (std::fclose(out) == 0) && ok;
    if (ok) {
        fs::rename(partial, index, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(partial, ec);
        std::fprintf(stderr, "velkor-make-payload: cannot write %s\n", index.c_str());
        return 1;
    }
    std::printf("%s: %zu files, %zu links, %.1f MB\n", index.c_str(), files, links,
                static_cast<double>(bytes) / 1048576.0);
    return 0;
}
