// The game-art loader: one background thread reads the three menu packages out
// of default.rcf, loads the two game fonts and decodes the menu images, then
// publishes everything at once under g_mutex.
#include "runtime/log.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace settings::menu_art {

namespace {

std::mutex g_mutex;
std::condition_variable g_loaded;
bool g_started = false;
bool g_done = false;
bool g_fontsOk = false;
void (*g_beforePublish)() = nullptr;

// Written by the loader before it sets g_done, read-only afterwards.
ArtLoad g_load;

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void FindArt(const std::vector<unsigned char>& package, Art art, ArtLoad& load) {
    FindImage(package, ART_SOURCES[static_cast<int>(art)].name, load.art[static_cast<int>(art)]);
}

void Load() {
    const uint64_t start = NowMs();
    LoadArt(g_load);
    const ArtLoad& l = g_load;
    if (l.fontsLoaded) {
        Log("[settings] screen art: fonts %s (%zu pages, %zu glyphs) and %s (%zu pages, %zu glyphs), "
            "%d/%d images, %llu ms (%s; %s)",
            l.fonts[0].name.c_str(), l.fonts[0].pages.size(), l.fonts[0].glyphs.size(), l.fonts[1].name.c_str(),
            l.fonts[1].pages.size(), l.fonts[1].glyphs.size(), l.ImagesFound(), ART_COUNT,
            static_cast<unsigned long long>(NowMs() - start), l.persistentSource.c_str(), l.composition.c_str());
    } else {
        Log("[settings] screen art: the game's fonts were not found (%s); the screen uses the overlay font",
            l.archiveOpened ? PACKAGE_PERSISTENT : "default.rcf");
    }
    if (g_beforePublish) g_beforePublish();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_fontsOk = l.fontsLoaded;
        g_done = true;
    }
    g_loaded.notify_all();
}

} // namespace

int ArtLoad::ImagesFound() const {
    int found = 0;
    for (const Image& image : art) found += image.w > 0 ? 1 : 0;
    return found;
}

void LoadArt(ArtLoad& load) {
    Rcf rcf;
    load.archiveOpened = OpenRcf(rcf);
    if (!load.archiveOpened) return;  // the archive closes and the package buffers are freed on return
    std::vector<unsigned char> persistent, inGame, frontend;
    std::string source;
    if (ReadEntry(rcf, PACKAGE_PERSISTENT, persistent, load.persistentSource)) {
        if (LoadFont(persistent, "Ombrax_Small", load.fonts[0], load.composition)) {
            load.fontsLoaded = LoadFont(persistent, "Ombrax_Large", load.fonts[1], load.composition);
        }
        FindArt(persistent, Art::MessageFrame, load);
    }
    if (ReadEntry(rcf, PACKAGE_INGAME, inGame, source)) {
        FindArt(inGame, Art::PauseStrip, load);
        FindArt(inGame, Art::StarFull, load);
    }
    if (ReadEntry(rcf, PACKAGE_FRONTEND, frontend, source)) {
        for (Art art : {Art::DividerLeft, Art::DividerRight, Art::BackdropWeave, Art::BackdropFold, Art::FoliageTop,
                        Art::FoliageBottom, Art::LightMap, Art::TitleLogo}) {
            FindArt(frontend, art, load);
        }
    }
}

void StartLoading() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_started) return;
        g_started = true;
    }
    std::thread(Load).detach();
}

bool Ready(int waitMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!g_started) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    while (!g_done) {
        if (g_loaded.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return g_done && g_fontsOk;
}

const Image* GetArt(Art art) {
    const int index = static_cast<int>(art);
    if (index < 0 || index >= ART_COUNT) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_done || g_load.art[index].w == 0) return nullptr;
    return &g_load.art[index];
}

bool FontsOk() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fontsOk;
}

Font& FontSlot(FontId font) { return g_load.fonts[font == FontId::Large ? 1 : 0]; }

namespace testing {

void PublishFonts(Font small, Font large, bool ok) {
    g_load.fonts[0] = std::move(small);
    g_load.fonts[1] = std::move(large);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fontsOk = ok;
}

void SetFontsOk(bool ok) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fontsOk = ok;
}

void SetBeforePublishHook(void (*hook)()) { g_beforePublish = hook; }

} // namespace testing

} // namespace settings::menu_art
