// The game-art loader thread: when Ready answers, what GetArt and the text
// functions see before and after publication, its one log line, and a screen
// thread reading while it runs (clean under ThreadSanitizer).
//
// The loader runs once per process and logs next to the program, so each
// scenario runs in a copy of this test program in a temporary folder (the
// DISABLED_ tests below, chosen with --gtest_filter).
#include "runtime/fs/vfs.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/synthetic_dump.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

constexpr const char* GAME_ENV = "VELKOR_LOADER_TEST_GAME";

fs::path TempFolder() {
    const char* base = std::getenv("VELKOR_TEST_TMP");
    std::error_code ec;
    fs::create_directories(base ? base : "/tmp", ec);
    std::string pattern = std::string(base ? base : "/tmp") + "/loader-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// default.rcf of the synthetic dump, with or without the two game fonts.
bool WriteGame(const fs::path& game, bool withFonts) {
    std::string error;
    return testsupport::WriteDefaultRcf(game, withFonts ? testsupport::GameFontsIn::Both : testsupport::GameFontsIn::None,
                                        error);
}

struct ChildRun {
    int status = -1;
    std::string output;
    std::vector<std::string> artLines;  // "[settings] screen art" lines of its log
};

// Runs one DISABLED_ scenario in a copy of this program inside `folder`.
ChildRun RunChild(const fs::path& folder, const std::string& test, const fs::path& game) {
    ChildRun run;
    std::error_code ec;
    const fs::path bin = folder / "bin";
    fs::create_directories(bin, ec);
    const fs::path copy = bin / plat::ExecutablePath().filename();
    fs::copy_file(plat::ExecutablePath(), copy, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        run.output = "cannot copy the test program: " + ec.message();
        return run;
    }
    const fs::path out = folder / "child.txt";
    const std::string command = std::string(GAME_ENV) + "='" + game.string() + "' '" + copy.string() +
                                "' --gtest_also_run_disabled_tests --gtest_filter='LoaderChild.DISABLED_" + test +
                                "' > '" + out.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(out);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::ifstream log(bin / "VelkorSetup.log");
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("[settings] screen art", 0) == 0) run.artLines.push_back(line);
    }
    return run;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = TempFolder();
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    fs::path folder_;
};

// Starts the mount table on the game folder the parent gave.
void MountGame() {
    const char* game = std::getenv(GAME_ENV);
    ASSERT_TRUE(game) << "run through the Loader tests";
    const fs::path user = fs::path(game).parent_path() / "user";
    vfs::Init({game, {}, user});
}

// The loader thread waits here, just before publishing, until released.
std::mutex g_gate;
std::condition_variable g_gateChanged;
bool g_reached = false;
bool g_released = false;

void HoldBeforePublish() {
    std::unique_lock<std::mutex> lock(g_gate);
    g_reached = true;
    g_gateChanged.notify_all();
    g_gateChanged.wait(lock, [] { return g_released; });
}

int ArtFound() {
    int found = 0;
    for (int i = 0; i < ma::ART_COUNT; ++i) found += ma::GetArt(ma::Art(i)) ? 1 : 0;
    return found;
}

} // namespace

// ---- scenarios, each in its own process -------------------------------------

TEST(LoaderChild, DISABLED_PublishesOnceDone) {
    MountGame();
    // Nothing started: no wait, nothing published.
    EXPECT_FALSE(ma::Ready(0));
    EXPECT_FALSE(ma::Ready(100000));  // returns at once, it does not wait
    EXPECT_EQ(ArtFound(), 0);

    ma::testing::SetBeforePublishHook(HoldBeforePublish);
    ma::StartLoading();
    ma::StartLoading();  // a second start does nothing
    {
        std::unique_lock<std::mutex> lock(g_gate);
        g_gateChanged.wait(lock, [] { return g_reached; });
    }
    // Everything is decoded but not yet published.
    EXPECT_FALSE(ma::Ready(0));
    EXPECT_FALSE(ma::Ready(30));
    EXPECT_EQ(ArtFound(), 0);
    EXPECT_FALSE(ma::HasGlyph(ma::FontId::Small, U'ã'));
    EXPECT_FLOAT_EQ(ma::TextWidth(ma::FontId::Large, U"ABC", 18, 1), 36);  // the overlay font
    {
        std::lock_guard<std::mutex> lock(g_gate);
        g_released = true;
    }
    g_gateChanged.notify_all();

    EXPECT_TRUE(ma::Ready(60000));
    EXPECT_TRUE(ma::Ready(0));
    EXPECT_EQ(ArtFound(), ma::ART_COUNT);
    const ma::Image* logo = ma::GetArt(ma::Art::TitleLogo);
    ASSERT_TRUE(logo);
    EXPECT_GT(logo->w, 0);
    EXPECT_EQ(ma::GetArt(ma::Art::TitleLogo), logo);
    EXPECT_EQ(ma::GetArt(ma::Art::Count), nullptr);
    EXPECT_TRUE(ma::HasGlyph(ma::FontId::Small, U'ã'));
    EXPECT_TRUE(ma::HasGlyph(ma::FontId::Large, U'Ô'));
    EXPECT_GT(ma::IconWidth(testsupport::ICON_FIRST, 60), 0);
    EXPECT_NE(ma::TextWidth(ma::FontId::Large, U"ABC", 18, 1), 36);
}

TEST(LoaderChild, DISABLED_WithoutFonts) {
    MountGame();
    ma::StartLoading();
    EXPECT_FALSE(ma::Ready(60000));
    EXPECT_FALSE(ma::Ready(0));
    // The images still load; text falls back to the overlay font.
    EXPECT_EQ(ArtFound(), ma::ART_COUNT);
    EXPECT_FLOAT_EQ(ma::TextWidth(ma::FontId::Small, U"ABC", 18, 1), 36);
}

TEST(LoaderChild, DISABLED_WithoutArchive) {
    MountGame();
    ma::StartLoading();
    EXPECT_FALSE(ma::Ready(60000));
    EXPECT_EQ(ArtFound(), 0);
}

TEST(LoaderChild, DISABLED_ScreenReadsWhileLoading) {
    MountGame();
    ma::StartLoading();
    // The screen thread's calls while the loader runs and after it finished.
    ma::Canvas canvas;
    canvas.Reset(400, 80);
    const ma::TextStyle style{{255, 180, 40, 255}, {80, 30, 0, 255}, 1.0f};
    int rounds = 0;
    bool ready = false;
    while (!ready || rounds < 3) {
        ready = ma::Ready(ready ? 0 : 1);
        ArtFound();
        ma::HasGlyph(ma::FontId::Large, U'Ã');
        ma::IconWidth(testsupport::ICON_FIRST, 40);
        ma::DrawGameText(canvas, ma::FontId::Small, U"INSTALAÇÃO \u00B1", 4, 4, 44, style, 1);
        ma::DrawGameText(canvas, ma::FontId::Large, U"PRÉ-REQUISITOS \u00B1", 4, 20, 60, style, 1);
        ma::DrawIcon(canvas, testsupport::ICON_FIRST, 300, 10, 40, 1, false);
        ma::ClearCache();
        if (ready) ++rounds;
    }
    EXPECT_TRUE(ma::HasGlyph(ma::FontId::Large, U'Ã'));
}

// ---- the scenarios seen from outside ----------------------------------------

TEST_F(Loader, PublishesFontsAndArtWithOneLogLine) {
    const fs::path game = folder_ / "game";
    ASSERT_TRUE(WriteGame(game, true));
    const ChildRun run = RunChild(folder_, "PublishesOnceDone", game);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(run.artLines.size(), 1u) << run.output;
    const std::regex line(
        "\\[settings\\] screen art: fonts Ombrax_Small \\(4 pages, [0-9]+ glyphs\\) and Ombrax_Large "
        "\\(4 pages, [0-9]+ glyphs\\), 11/11 images, [0-9]+ ms \\(default\\.rcf; "
        "Ombrax_Small: ãõÃÕÊÔ composed on new page 3; Ombrax_Large: ãõÃÕÊÔ composed on new page 3; \\)");
    EXPECT_TRUE(std::regex_match(run.artLines[0], line)) << run.artLines[0];
}

TEST_F(Loader, ReportsMissingFonts) {
    const fs::path game = folder_ / "game";
    ASSERT_TRUE(WriteGame(game, false));
    const ChildRun run = RunChild(folder_, "WithoutFonts", game);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(run.artLines.size(), 1u) << run.output;
    EXPECT_EQ(run.artLines[0],
              "[settings] screen art: the game's fonts were not found (package\\b4c85fe7.p3d); the screen uses the "
              "overlay font");
}

TEST_F(Loader, ReportsMissingArchive) {
    const fs::path game = folder_ / "game";
    std::error_code ec;
    fs::create_directories(game, ec);
    const ChildRun run = RunChild(folder_, "WithoutArchive", game);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(run.artLines.size(), 1u) << run.output;
    EXPECT_EQ(run.artLines[0],
              "[settings] screen art: the game's fonts were not found (default.rcf); the screen uses the overlay font");
}

TEST_F(Loader, ScreenThreadReadsWhileTheLoaderRuns) {
    const fs::path game = folder_ / "game";
    ASSERT_TRUE(WriteGame(game, true));
    const ChildRun run = RunChild(folder_, "ScreenReadsWhileLoading", game);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("ThreadSanitizer"), std::string::npos) << run.output;
}
