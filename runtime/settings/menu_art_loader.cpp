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
Image g_art[ART_COUNT];
Font g_fonts[2];

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

const char* ImageName(Art art) { return ART_SOURCES[static_cast<int>(art)].name; }

void FindArt(const std::vector<unsigned char>& package, Art art) {
    FindImage(package, ImageName(art), g_art[static_cast<int>(art)]);
}

void Load() {
    const uint64_t start = NowMs();
    bool fontsLoaded = false;
    {
        Rcf rcf;
        const bool opened = OpenRcf(rcf);
        std::string composition;
        std::string persistentSource;
        std::vector<unsigned char> persistent, inGame, frontend;
        std::string source;

        if (opened && ReadEntry(rcf, PACKAGE_PERSISTENT, persistent, persistentSource)) {
            if (LoadFont(persistent, "Ombrax_Small", g_fonts[0], composition)) {
                fontsLoaded = LoadFont(persistent, "Ombrax_Large", g_fonts[1], composition);
            }
            FindArt(persistent, Art::MessageFrame);
        }
        if (opened && ReadEntry(rcf, PACKAGE_INGAME, inGame, source)) {
            FindArt(inGame, Art::PauseStrip);
            FindArt(inGame, Art::StarFull);
        }
        if (opened && ReadEntry(rcf, PACKAGE_FRONTEND, frontend, source)) {
            for (Art art : {Art::DividerLeft, Art::DividerRight, Art::BackdropWeave, Art::BackdropFold,
                            Art::FoliageTop, Art::FoliageBottom, Art::LightMap, Art::TitleLogo}) {
                FindArt(frontend, art);
            }
        }

        int images = 0;
        for (const Image& image : g_art) images += image.w > 0 ? 1 : 0;
        if (fontsLoaded) {
            Log("[settings] screen art: fonts %s (%zu pages, %zu glyphs) and %s (%zu pages, %zu glyphs), "
                "%d/%d images, %llu ms (%s; %s)",
                g_fonts[0].name.c_str(), g_fonts[0].pages.size(), g_fonts[0].glyphs.size(),
                g_fonts[1].name.c_str(), g_fonts[1].pages.size(), g_fonts[1].glyphs.size(), images,
                ART_COUNT, static_cast<unsigned long long>(NowMs() - start), persistentSource.c_str(),
                composition.c_str());
        } else {
            Log("[settings] screen art: the game's fonts were not found (%s); the screen uses the overlay font",
                opened ? PACKAGE_PERSISTENT : "default.rcf");
        }

        if (g_beforePublish) g_beforePublish();
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_fontsOk = fontsLoaded;
            g_done = true;
        }
        g_loaded.notify_all();
        // The archive closes and the package buffers are freed here.
    }
}

} // namespace

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
    if (!g_done || g_art[index].w == 0) return nullptr;
    return &g_art[index];
}

bool FontsOk() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fontsOk;
}

Font& FontSlot(FontId font) { return g_fonts[font == FontId::Large ? 1 : 0]; }

namespace testing {

void PublishFonts(Font small, Font large, bool ok) {
    g_fonts[0] = std::move(small);
    g_fonts[1] = std::move(large);
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
