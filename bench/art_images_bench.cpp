// FindImage of the eleven menu images in the synthetic dump's packages, as the
// time to find and decode all of one package's images.
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/synthetic_dump.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace ma = settings::menu_art;

namespace {

const std::vector<uint8_t>& Package(int which) {
    static const std::array<std::vector<uint8_t>, 3> packages = [] {
        const testsupport::MenuPackages p = testsupport::SyntheticMenuPackages();
        return std::array<std::vector<uint8_t>, 3>{testsupport::BuildPackage(p.persistent),
                                                  testsupport::BuildPackage(p.inGame),
                                                  testsupport::BuildPackage(p.frontend)};
    }();
    return packages[size_t(which)];
}

void BM_FindImagesOfPackage(benchmark::State& state) {
    const char* names[] = {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND};
    const int which = int(state.range(0));
    const std::vector<uint8_t>& package = Package(which);
    int images = 0;
    for (auto _ : state) {
        images = 0;
        for (const ma::ArtSource& s : ma::ART_SOURCES) {
            if (std::string(s.package) != names[which]) continue;
            ma::Image image;
            if (ma::FindImage(package, s.name, image)) ++images;
            benchmark::DoNotOptimize(image.px.data());
        }
    }
    state.SetLabel(std::string(names[which]) + ", " + std::to_string(images) + " images, " +
                   std::to_string(package.size() / 1024) + " KiB");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(package.size()));
}
BENCHMARK(BM_FindImagesOfPackage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
