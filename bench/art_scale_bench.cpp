// The separable resampler: a 1024 x 1024 image to 3840 x 2160 and back, and a
// cached request.
#include "runtime/settings/menu_art_fonts_internal.h"

#include <benchmark/benchmark.h>

namespace ma = settings::menu_art;

namespace {

ma::Image Pattern(int w, int h) {
    ma::Image image;
    image.w = w;
    image.h = h;
    image.px.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t a = uint32_t(128 + (x ^ y) % 128);
            const uint32_t r = (uint32_t(x) * a / uint32_t(w)) & 0xFF, g = (uint32_t(y) * a / uint32_t(h)) & 0xFF;
            image.px[size_t(y) * size_t(w) + size_t(x)] = r | g << 8 | (a / 2) << 16 | a << 24;
        }
    }
    return image;
}

void BM_Scale1024To4K(benchmark::State& state) {
    const ma::Image source = Pattern(1024, 1024);
    for (auto _ : state) {
        ma::Image out = ma::Resample(source, 0, 0, 1024, 1024, 3840, 2160, false, false);
        benchmark::DoNotOptimize(out.px.data());
    }
    state.SetItemsProcessed(state.iterations() * 3840 * 2160);
}
BENCHMARK(BM_Scale1024To4K)->Unit(benchmark::kMillisecond);

void BM_Scale4KTo1024(benchmark::State& state) {
    const ma::Image source = Pattern(3840, 2160);
    for (auto _ : state) {
        ma::Image out = ma::Resample(source, 0, 0, 3840, 2160, 1024, 1024, true, false);
        benchmark::DoNotOptimize(out.px.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(BM_Scale4KTo1024)->Unit(benchmark::kMillisecond);

void BM_ScaledCacheHit(benchmark::State& state) {
    const ma::Image source = Pattern(1024, 1024);
    ma::ClearCache();
    ma::Scaled(source, 3840, 2160, false, false);
    for (auto _ : state) benchmark::DoNotOptimize(&ma::Scaled(source, 3840, 2160, false, false));
    ma::ClearCache();
}
BENCHMARK(BM_ScaledCacheHit);

} // namespace

BENCHMARK_MAIN();
