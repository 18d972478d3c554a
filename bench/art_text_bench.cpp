// One 40-character line of game text at 60 px: cold (every glyph scaled
// anew) and from the scaled-glyph cache, in both fixture fonts.
#include "runtime/settings/menu_art_fonts_internal.h"
#include "tests/support/font_fixture.h"

#include <benchmark/benchmark.h>

namespace ma = settings::menu_art;

namespace {

const std::u32string LINE = U"INSTALAÇÃO CONCLUÍDA: São Paulo, 1234 \u00B1!";  // 40 characters
const ma::TextStyle STYLE{{236, 150, 20, 255}, {70, 28, 0, 255}, 1.0f};

bool UseFixtureFonts() {
    static const bool ok = [] {
        testsupport::GameFontSet fonts;
        if (!testsupport::GameFonts(fonts)) return false;
        const std::vector<uint8_t> package = testsupport::BuildPackage({fonts.small, fonts.large});
        ma::Font small, large;
        std::string log;
        if (!ma::LoadFont(package, "Ombrax_Small", small, log) || !ma::LoadFont(package, "Ombrax_Large", large, log)) {
            return false;
        }
        ma::testing::PublishFonts(std::move(small), std::move(large), true);
        return true;
    }();
    return ok;
}

void DrawLine(benchmark::State& state, bool cold) {
    if (!UseFixtureFonts()) return state.SkipWithError("no fixture fonts");
    const ma::FontId font = state.range(0) ? ma::FontId::Large : ma::FontId::Small;
    ma::Canvas canvas;
    canvas.Reset(1800, 80);
    ma::ClearCache();
    ma::DrawGameText(canvas, font, LINE, 4, 4, 60, STYLE, 1);
    for (auto _ : state) {
        if (cold) ma::ClearCache();
        benchmark::DoNotOptimize(ma::DrawGameText(canvas, font, LINE, 4, 4, 60, STYLE, 1));
    }
    state.counters["characters"] = double(LINE.size());
}

void BM_DrawGameTextCold(benchmark::State& state) { DrawLine(state, true); }
void BM_DrawGameTextCached(benchmark::State& state) { DrawLine(state, false); }
BENCHMARK(BM_DrawGameTextCold)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawGameTextCached)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
