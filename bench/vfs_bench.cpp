// vfs::Locate over a 5,000-file dump tree whose names on disk are in mixed
// case, looked up by guest names in another case: 10,000 lookups per batch.
//   Cold: the folder listings are dropped (vfs::Init) before every batch.
//   Warm: the listings are kept from earlier batches.
//   Mods: warm, with three small mods overlaying the dump.
//   Rescan: the same lookups resolving each component by reading the folder
//           every time (what the listing cache saves), for comparison.
// Reported per lookup (the "per_lookup" counter, and items/s).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "runtime/fs/vfs.h"

namespace fs = std::filesystem;

namespace {

constexpr int FOLDERS = 50;
constexpr int FILES_PER_FOLDER = 100;  // 5,000 files
constexpr int LOOKUPS = 10000;

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Folder times an hour back: the listings of a folder changed a moment ago
// are not kept (its time could still move within the same tick).
void AgeFolder(const fs::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec -= 3600;
    ::utimensat(AT_FDCWD, folder.c_str(), times, 0);
}

struct Tree {
    fs::path base, game, mods, user;
    std::vector<std::string> guestNames;  // LOOKUPS names, in another case than on disk
    std::vector<vfs::VirtualPath> paths;

    Tree() {
        const char* tmp = std::getenv("VELKOR_TEST_TMP");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vfs-bench-XXXXXX";
        std::error_code ec;
        fs::create_directories(fs::path(pattern).parent_path(), ec);
        if (!::mkdtemp(pattern.data())) std::abort();
        base = pattern;
        game = base / "game";
        mods = base / "mods";
        user = base / "userdata";
        std::vector<std::string> onDisk;
        for (int f = 0; f < FOLDERS; ++f) {
            char folder[32];
            std::snprintf(folder, sizeof folder, "Art_Set%02d", f);
            fs::create_directories(game / folder);
            for (int i = 0; i < FILES_PER_FOLDER; ++i) {
                char file[32];
                std::snprintf(file, sizeof file, "Tex_%04d.P3d", f * FILES_PER_FOLDER + i);
                std::ofstream(game / folder / file) << "x";
                onDisk.push_back(std::string(folder) + "\\" + file);
            }
            AgeFolder(game / folder);
        }
        AgeFolder(game);
        for (const char* mod : {"HdTextures", "Fixes", "Subtitles"}) {
            fs::create_directories(mods / mod / "Art_Set07");
            std::ofstream(mods / mod / "Art_Set07" / "Tex_0700.p3d") << "mod";
            AgeFolder(mods / mod / "Art_Set07");
            AgeFolder(mods / mod);
        }
        AgeFolder(mods);

        std::mt19937 random(20261211);
        for (int i = 0; i < LOOKUPS; ++i) {
            const std::string& name = onDisk[random() % onDisk.size()];
            guestNames.push_back("D:\\" + (i % 2 ? Upper(name) : Lower(name)));
        }
    }
    ~Tree() {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    void Init(bool withMods) {
        vfs::Init({game, withMods ? mods : fs::path(), user});
        paths.clear();
        for (const std::string& guest : guestNames) paths.push_back(*vfs::Parse(guest, nullptr));
    }
};

Tree& TheTree() {
    static Tree tree;
    return tree;
}

void Report(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * LOOKUPS);
    state.counters["per_lookup"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * LOOKUPS,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void LocateBatch(benchmark::State& state, Tree& tree) {
    size_t found = 0;
    for (const vfs::VirtualPath& path : tree.paths) found += vfs::Locate(path).has_value();
    if (found != tree.paths.size()) state.SkipWithError("a lookup found nothing");
}

void BM_LocateCold(benchmark::State& state) {
    Tree& tree = TheTree();
    for (auto _ : state) {
        state.PauseTiming();
        tree.Init(false);  // drops every folder listing
        state.ResumeTiming();
        LocateBatch(state, tree);
    }
    Report(state);
}

void BM_LocateWarm(benchmark::State& state) {
    Tree& tree = TheTree();
    tree.Init(false);
    LocateBatch(state, tree);
    for (auto _ : state) LocateBatch(state, tree);
    Report(state);
}

void BM_LocateWarmWithMods(benchmark::State& state) {
    Tree& tree = TheTree();
    tree.Init(true);
    LocateBatch(state, tree);
    for (auto _ : state) LocateBatch(state, tree);
    Report(state);
}

// Each component found by reading its folder, as without the listing cache.
void BM_LocateRescan(benchmark::State& state) {
    Tree& tree = TheTree();
    tree.Init(false);
    for (auto _ : state) {
        size_t found = 0;
        for (const vfs::VirtualPath& path : tree.paths) {
            fs::path host = tree.game;
            size_t start = 0;
            while (start <= path.relative.size()) {
                size_t end = path.relative.find('\\', start);
                std::string component = path.relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
                std::error_code ec;
                if (fs::exists(host / component, ec)) {
                    host /= component;
                } else {
                    const std::string wanted = Lower(component);
                    std::string match = component;
                    for (fs::directory_iterator it(host, ec), stop; !ec && it != stop; it.increment(ec)) {
                        if (Lower(it->path().filename().string()) == wanted) {
                            match = it->path().filename().string();
                            break;
                        }
                    }
                    host /= match;
                }
                if (end == std::string::npos) break;
                start = end + 1;
            }
            std::error_code ec;
            found += fs::exists(host, ec);
        }
        if (found != tree.paths.size()) state.SkipWithError("a lookup found nothing");
    }
    Report(state);
}

} // namespace

BENCHMARK(BM_LocateCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocateWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocateWarmWithMods)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocateRescan)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
