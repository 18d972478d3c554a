// The game-art loader: one background thread reads the three menu packages out
// of default.rcf, loads the two game fonts and decodes the menu images, then
// publishes everything at once under its mutex.
#include "runtime/log.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace settings::menu_art {

namespace {

// Everything the loader thread touches outlives the static destructors: the
// thread is detached and may still be running, or just leaving notify_all,
// when the program exits, so this state is created once and never destroyed.
struct LoaderState {
    std::mutex mutex;               // guards the three flags and the wait
    std::condition_variable loaded; // signalled once when loading has finished
    bool started = false;
    bool done = false;
    bool fontsOk = false;
    void (*beforePublish)() = nullptr;
    ArtLoad load;  // written by the loader before `done`, read-only afterwards
};

LoaderState& State() {
    static LoaderState* const state = new LoaderState();
    return *state;
}

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void FindArt(const std::vector<unsigned char>& package, Art art, ArtLoad& load) {
    FindImage(package, ART_SOURCES[static_cast<int>(art)].name, load.art[static_cast<int>(art)]);
}

void Load() {
    const uint64_t start = NowMs();
    LoadArt(State().load);
    const ArtLoad& l = State().load;
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
    if (State().beforePublish) State().beforePublish();
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().fontsOk = l.fontsLoaded;
        State().done = true;
    }
    State().loaded.notify_all();
}

} // namespace

int ArtLoad::ImagesFound() const {
    int found = 0;
    for (const Image& image : art) found += image.w > 0 ? 1 : 0;
    return found;
}

namespace {

std::atomic<bool> s_helper{true};  // off only in tests and benchmarks of the load on one thread

// Runs independent pieces of work, each once, on this thread and, where the
// processor has more than one core, one helper thread; returns when all are
// done. Earlier pieces are taken first, so the longest go first.
void RunTogether(const std::vector<std::function<void()>>& work) {
    std::atomic<size_t> next{0};
    auto take = [&] {
        for (size_t i = next.fetch_add(1); i < work.size(); i = next.fetch_add(1)) work[i]();
    };
    std::thread helper;
    if (work.size() > 1 && s_helper && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread(take);
        } catch (const std::system_error&) {
            // No thread to be had: everything runs here.
        }
    }
    take();
    if (helper.joinable()) helper.join();
}

} // namespace

void LoadArt(ArtLoad& load) {
    Rcf rcf;
    load.archiveOpened = OpenRcf(rcf);
    if (!load.archiveOpened) return;  // the archive closes and the package buffers are freed on return

    // Each package is read by whichever piece of work needs it first.
    struct Package {
        const char* entry;
        std::string* source;  // where the entry came from, when wanted
        std::once_flag once;
        std::vector<unsigned char> data;
        bool ok = false;
    };
    Package persistent{PACKAGE_PERSISTENT, &load.persistentSource, {}, {}, false};
    Package inGame{PACKAGE_INGAME, nullptr, {}, {}, false}, frontend{PACKAGE_FRONTEND, nullptr, {}, {}, false};
    auto read = [&rcf](Package& package) -> const std::vector<unsigned char>* {
        std::call_once(package.once, [&] {
            std::string source;
            package.ok = ReadEntry(rcf, package.entry, package.data, package.source ? *package.source : source);
        });
        return package.ok ? &package.data : nullptr;
    };

    // The fonts and the images do not depend on each other and run side by
    // side, the longest first. Both fonts are loaded at once; the large one
    // counts only when the small one loaded, as if it had been tried only then.
    Font small, large;
    std::string smallLog, largeLog;
    bool smallOk = false, largeOk = false;
    std::vector<std::function<void()>> work;
    work.push_back([&] {
        if (const auto* package = read(persistent)) largeOk = LoadFont(*package, "Ombrax_Large", large, largeLog);
    });
    work.push_back([&] {
        if (const auto* package = read(persistent)) smallOk = LoadFont(*package, "Ombrax_Small", small, smallLog);
    });
    for (Art art : {Art::FoliageTop, Art::FoliageBottom, Art::BackdropFold, Art::TitleLogo, Art::BackdropWeave,
                    Art::LightMap, Art::DividerLeft, Art::DividerRight}) {
        work.push_back([&, art] {
            if (const auto* package = read(frontend)) FindArt(*package, art, load);
        });
    }
    for (Art art : {Art::PauseStrip, Art::StarFull}) {
        work.push_back([&, art] {
            if (const auto* package = read(inGame)) FindArt(*package, art, load);
        });
    }
    work.push_back([&] {
        if (const auto* package = read(persistent)) FindArt(*package, Art::MessageFrame, load);
    });
    RunTogether(work);

    load.composition = smallLog;
    if (smallOk) {
        load.fonts[0] = std::move(small);
        load.composition += largeLog;
        load.fontsLoaded = largeOk;
        if (largeOk) load.fonts[1] = std::move(large);
    }
}

void StartLoading() {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        if (State().started) return;
        State().started = true;
    }
    std::thread(Load).detach();
}

bool Ready(int waitMs) {
    std::unique_lock<std::mutex> lock(State().mutex);
    if (!State().started) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    while (!State().done) {
        if (State().loaded.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return State().done && State().fontsOk;
}

const Image* GetArt(Art art) {
    const int index = static_cast<int>(art);
    if (index < 0 || index >= ART_COUNT) return nullptr;
    std::lock_guard<std::mutex> lock(State().mutex);
    if (!State().done || State().load.art[index].w == 0) return nullptr;
    return &State().load.art[index];
}

bool FontsOk() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().fontsOk;
}

Font& FontSlot(FontId font) { return State().load.fonts[font == FontId::Large ? 1 : 0]; }

namespace testing {

void PublishFonts(Font small, Font large, bool ok) {
    State().load.fonts[0] = std::move(small);
    State().load.fonts[1] = std::move(large);
    std::lock_guard<std::mutex> lock(State().mutex);
    State().fontsOk = ok;
}

void SetFontsOk(bool ok) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().fontsOk = ok;
}

void SetBeforePublishHook(void (*hook)()) { State().beforePublish = hook; }

void SetLoaderHelper(bool helper) { s_helper = helper; }

} // namespace testing

} // namespace settings::menu_art
