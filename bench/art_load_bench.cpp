// The whole game-art load of the synthetic dump (archive, three packages,
// both fonts with their composition, eleven images) beside a plain read of
// the same three package entries, three ways: repeated in one process (warm
// caches and heap), with the archive dropped from the page cache, and once
// in a fresh process from StartLoading to Ready. Also the load's parts: the
// fonts, the images, and stb_image's own share.
#include "runtime/fs/vfs.h"
#include "runtime/platform/image_posix.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/synthetic_dump.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <memory>
#include <thread>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

// The dump's default.rcf (with the fixture fonts) in a temporary folder,
// mounted once for the whole run.
struct Dump {
    fs::path folder;
    bool ok = false;
    Dump() {
        std::string pattern = (fs::temp_directory_path() / "art-load-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        folder = pattern;
        std::string error;
        if (!testsupport::WriteDefaultRcf(folder / "game", testsupport::GameFontsIn::Both, error)) return;
        vfs::Init({folder / "game", {}, folder / "user"});
        ok = true;
    }
    ~Dump() {
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
};

const Dump& TheDump() {
    static Dump dump;
    return dump;
}

// Drops default.rcf from the page cache (where the system honours the
// request), as on the first start after the dump was copied or the machine
// booted.
bool DropArchiveFromPageCache() {
    const int fd = open((TheDump().folder / "game" / "default.rcf").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return ok;
}

// The plain read: the archive opened and the three package entries read.
bool ReadThePackages(std::vector<unsigned char> (&data)[3]) {
    ma::Rcf rcf;
    if (!ma::OpenRcf(rcf)) return false;
    int i = 0;
    for (const char* entry : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND}) {
        std::string source;
        if (!ma::ReadEntry(rcf, entry, data[i], source)) return false;
        benchmark::DoNotOptimize(data[i++].data());
    }
    return true;
}

// What is freed or dropped between runs is done outside the timed part: the
// program keeps what it loaded until it exits.
bool BetweenRuns(benchmark::State& state, bool cold) {
    state.PauseTiming();
    const bool ok = !cold || DropArchiveFromPageCache();
    state.ResumeTiming();
    if (!ok) state.SkipWithError("cannot drop the archive from the page cache");
    return ok;
}

// Argument: 0 from the page cache, 1 with the archive dropped from it first.
void BM_RawReadOfThePackages(benchmark::State& state) {
    if (!TheDump().ok) return state.SkipWithError("cannot write the dump");
    size_t bytes = 0;
    for (auto _ : state) {
        if (!BetweenRuns(state, state.range(0) != 0)) return;
        std::vector<unsigned char> data[3];
        if (!ReadThePackages(data)) return state.SkipWithError("cannot read the packages");
        bytes = data[0].size() + data[1].size() + data[2].size();
        state.PauseTiming();
        for (auto& d : data) std::vector<unsigned char>().swap(d);
        state.ResumeTiming();
    }
    state.counters["package_bytes"] = double(bytes);
}
BENCHMARK(BM_RawReadOfThePackages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arguments: 1 with the loader's helper thread (as the program runs it) or 0
// all on one thread; 0 from the page cache or 1 with the archive dropped.
void BM_WholeArtLoad(benchmark::State& state) {
    if (!TheDump().ok) return state.SkipWithError("cannot write the dump");
    ma::testing::SetLoaderHelper(state.range(0) != 0);
    int images = 0;
    for (auto _ : state) {
        if (!BetweenRuns(state, state.range(1) != 0)) break;
        auto load = std::make_unique<ma::ArtLoad>();
        ma::LoadArt(*load);
        if (!load->fontsLoaded) {
            state.SkipWithError("the fonts did not load");
            break;
        }
        images = load->ImagesFound();
        benchmark::DoNotOptimize(load->art[0].px.data());
        state.PauseTiming();
        load.reset();
        state.ResumeTiming();
    }
    state.counters["images"] = images;
    ma::testing::SetLoaderHelper(true);
}
BENCHMARK(BM_WholeArtLoad)->Args({1, 0})->Args({0, 0})->Args({1, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// The two stages of the load on their own, from package buffers already read.
struct Packages {
    std::vector<unsigned char> persistent, inGame, frontend;
    bool ok = false;
    Packages() {
        ma::Rcf rcf;
        std::string source;
        ok = ma::OpenRcf(rcf) && ma::ReadEntry(rcf, ma::PACKAGE_PERSISTENT, persistent, source) &&
             ma::ReadEntry(rcf, ma::PACKAGE_INGAME, inGame, source) &&
             ma::ReadEntry(rcf, ma::PACKAGE_FRONTEND, frontend, source);
    }
};

const Packages& ThePackages() {
    TheDump();
    static Packages packages;
    return packages;
}

// The package an image comes from.
const std::vector<unsigned char>& PackageOf(const ma::ArtSource& source) {
    const std::string entry = source.package;
    return entry == ma::PACKAGE_PERSISTENT ? ThePackages().persistent
           : entry == ma::PACKAGE_INGAME   ? ThePackages().inGame
                                           : ThePackages().frontend;
}

// Argument: 0 both fonts, 1 the large one alone (the longest piece of the load).
void BM_Fonts(benchmark::State& state) {
    if (!ThePackages().ok) return state.SkipWithError("cannot read the packages");
    const bool both = state.range(0) == 0;
    for (auto _ : state) {
        ma::Font small, large;
        std::string log;
        if ((both && !ma::LoadFont(ThePackages().persistent, "Ombrax_Small", small, log)) ||
            !ma::LoadFont(ThePackages().persistent, "Ombrax_Large", large, log))
            return state.SkipWithError("the fonts did not load");
        benchmark::DoNotOptimize(large.pages.data());
    }
}
BENCHMARK(BM_Fonts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ElevenImages(benchmark::State& state) {
    if (!ThePackages().ok) return state.SkipWithError("cannot read the packages");
    for (auto _ : state) {
        int found = 0;
        for (const ma::ArtSource& source : ma::ART_SOURCES) {
            const auto& package = PackageOf(source);
            ma::Image image;
            found += ma::FindImage(package, source.name, image) ? 1 : 0;
            benchmark::DoNotOptimize(image.px.data());
        }
        if (found != ma::ART_COUNT) return state.SkipWithError("an image was not found");
    }
}
BENCHMARK(BM_ElevenImages)->Unit(benchmark::kMillisecond);

// What stb_image alone costs in the load: every PNG the load decodes with it
// (the images' PNGs, the damaged copy included, and the fonts' pages),
// decoded and freed on one thread.
void BM_StbDecodeOfTheLoadsPngs(benchmark::State& state) {
    if (!ThePackages().ok) return state.SkipWithError("cannot read the packages");
    std::vector<std::pair<const uint8_t*, size_t>> pngs;
    auto collect = [&](const std::vector<unsigned char>& package, const ma::Chunk& owner) {
        for (const ma::Chunk& image : ma::Children(package.data(), owner.offset + owner.header, owner.offset + owner.size)) {
            if (image.id != ma::CHUNK_IMAGE) continue;
            for (const ma::Chunk& d : ma::Children(package.data(), image.offset + image.header, image.offset + image.size)) {
                if (d.id == ma::CHUNK_IMAGE_DATA && d.header >= 16)
                    pngs.push_back({package.data() + d.offset + 16, ma::LE32(package.data() + d.offset + 12)});
            }
        }
    };
    for (const ma::ArtSource& source : ma::ART_SOURCES) {
        const auto& package = PackageOf(source);
        auto visit = [&](const ma::Chunk& c) {
            if ((c.id == ma::CHUNK_TEXTURE || c.id == ma::CHUNK_SPRITE) && c.header >= 14 &&
                ma::Lower(ma::Pascal(package.data() + c.offset + 12, c.header - 13)) == ma::Lower(source.name))
                collect(package, c);
        };
        ma::Walk(package.data(), 0, package.size(), visit);
    }
    const auto& persistent = ThePackages().persistent;
    auto fonts = [&](const ma::Chunk& c) {
        if (c.id != ma::CHUNK_FONT) return;
        for (const ma::Chunk& t : ma::Children(persistent.data(), c.offset + c.header, c.offset + c.size))
            if (t.id == ma::CHUNK_TEXTURE) collect(persistent, t);
    };
    ma::Walk(persistent.data(), 0, persistent.size(), fonts);
    for (auto _ : state) {
        for (const auto& [png, size] : pngs) {
            int w = 0, h = 0;
            uint8_t* pixels = plat::DecodePngBuffer(png, size, w, h);
            benchmark::DoNotOptimize(pixels);
            if (pixels) plat::FreePngPixels(pixels);
        }
    }
    state.counters["pngs"] = double(pngs.size());
}
BENCHMARK(BM_StbDecodeOfTheLoadsPngs)->Unit(benchmark::kMillisecond)->UseRealTime();


// The first start, as the program meets it: the plain read once, on a fresh
// thread, beside the loader from StartLoading to Ready once. Both pay for a
// new thread and for memory the process has not touched before, so each is
// run alone in a fresh process, alternately and several times:
//   for i in 1 2 3 4 5 6; do
//     bench_art_load_bench --benchmark_filter=FirstRawRead
//     bench_art_load_bench --benchmark_filter=StartLoadingToReady
//   done
void BM_FirstRawReadOfThePackages(benchmark::State& state) {
    if (!TheDump().ok) return state.SkipWithError("cannot write the dump");
    for (auto _ : state) {
        // On a thread of its own, started and joined as the loader's is.
        const auto begin = std::chrono::steady_clock::now();
        static std::vector<unsigned char> data[3];  // kept, as the loaded art is
        bool ok = false;
        std::thread([&ok] { ok = ReadThePackages(data); }).join();
        const auto end = std::chrono::steady_clock::now();
        if (!ok) return state.SkipWithError("cannot read the packages");
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    }
}
BENCHMARK(BM_FirstRawReadOfThePackages)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The loader thread itself, from StartLoading to Ready (once per process).
void BM_StartLoadingToReady(benchmark::State& state) {
    if (!TheDump().ok) return state.SkipWithError("cannot write the dump");
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        ma::StartLoading();
        const bool ready = ma::Ready(8000);
        const auto end = std::chrono::steady_clock::now();
        if (!ready) return state.SkipWithError("Ready(8000) was false");
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    }
}
BENCHMARK(BM_StartLoadingToReady)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
