// Opening default.rcf and reading the three menu packages (20 MiB each here),
// beside a plain positioned read of the same bytes from the same file.
#include "runtime/fs/vfs.h"
#include "runtime/platform/file.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace ma = settings::menu_art;

namespace {

constexpr size_t PACKAGE_BYTES = 20u << 20;

struct Archive {
    testsupport::TempDir tmp{"bench-rcf"};
    std::vector<std::pair<uint64_t, uint32_t>> ranges;  // the packages' bytes in the file

    Archive() {
        std::vector<testsupport::RcfEntry> entries;
        entries.push_back({"scripts\\menu.lua", std::vector<uint8_t>(5000, 'x')});
        uint8_t fill = 1;
        for (const char* name : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND})
            entries.push_back({name, std::vector<uint8_t>(PACKAGE_BYTES, fill++)});
        testsupport::WriteRcf(tmp / "default.rcf", entries);
        vfs::Init({tmp.path(), {}, tmp / "userdata"});
        ma::Rcf rcf;
        ma::OpenRcfFile(rcf, tmp / "default.rcf");
        for (const char* name : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND})
            ranges.push_back(rcf.entries.at(name));
    }
};

Archive& TheArchive() {
    static Archive archive;
    return archive;
}

void BM_OpenRcfAndReadPackages(benchmark::State& state) {
    TheArchive();
    std::vector<unsigned char> data[3];
    for (auto _ : state) {
        ma::Rcf rcf;
        if (!ma::OpenRcf(rcf)) state.SkipWithError("OpenRcf failed");
        std::string source;
        int i = 0;
        for (const char* name : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND})
            if (!ma::ReadEntry(rcf, name, data[i++], source)) state.SkipWithError("ReadEntry failed");
        benchmark::DoNotOptimize(data[2].data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(3 * PACKAGE_BYTES));
}
BENCHMARK(BM_OpenRcfAndReadPackages)->Unit(benchmark::kMillisecond);

void BM_PlainReadOfTheSameBytes(benchmark::State& state) {
    Archive& a = TheArchive();
    std::vector<unsigned char> data[3];
    for (auto _ : state) {
        plat::File f;
        if (!f.Open(a.tmp / "default.rcf", false, plat::FileDisposition::OpenExisting, nullptr))
            state.SkipWithError("open failed");
        for (int i = 0; i < 3; ++i) {
            data[i].resize(a.ranges[i].second);
            if (!f.ReadExactAt(a.ranges[i].first, data[i].data(), data[i].size())) state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(data[2].data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(3 * PACKAGE_BYTES));
}
BENCHMARK(BM_PlainReadOfTheSameBytes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
