// The program photographing its own window, as a user runs it: a copy of the
// program built for the synthetic dump, started with "--game <dump>
// --screenshot <file>" under SDL's offscreen video driver (and once under
// Xvfb with the X11 driver). The picture must be a valid, opaque 1280 x 720
// PNG showing the backdrop composed from the dump's art. Also the exit code
// and messages when SDL or the window cannot start.
#include "launcher/ui_fonts.h"
#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/platform/image_posix.h"
#include "runtime/settings/menu_art_fonts.h"
#include "tests/support/font_fixture.h"
#include "tests/support/synthetic_dump.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace ma = settings::menu_art;

namespace {

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Shell(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// The dump as velkor-make-dump writes it, plus the game fonts in the
// persistent package when `fonts` is set (so the art counts as loaded and the
// screen uses the logo and the game's lettering).
bool MakeDump(const fs::path& folder, bool fonts, std::string& error) {
    if (Shell(Quote(fs::path(VELKOR_BUILD_DIR) / "velkor-make-dump") + " " + Quote(folder), error) != 0) return false;
    return !fonts || testsupport::WriteDefaultRcf(folder, testsupport::GameFontsIn::Both, error);
}

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
};

class Screenshot : public ::testing::Test {
protected:
    static testsupport::TempDir* s_tmp;
    static fs::path s_dump;
    static std::vector<uint32_t> s_backdrop;  // what the dump's art composes at 1280 x 720

    static void SetUpTestSuite() {
        s_tmp = new testsupport::TempDir("screenshot");
        s_dump = s_tmp->path() / "dump";
        std::string error;
        if (!MakeDump(s_dump, true, error)) {
            ADD_FAILURE() << error;
            return;
        }
        // VELKOR_KEEP_SHOTS=<folder> keeps the dump too, for runs by hand.
        if (const char* keep = std::getenv("VELKOR_KEEP_SHOTS")) {
            std::error_code ec;
            fs::copy(s_dump, fs::path(keep) / "dump", fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        }
        // The same art read in this process: the expected background.
        testsupport::MountGame(s_dump);
        ma::StartLoading();
        if (!ma::Ready(20000)) ADD_FAILURE() << "the test's own art did not load";
        s_backdrop = ComposeBackdrop(1280, 720, 1.0f);
    }
    static void TearDownTestSuite() {
        delete s_tmp;
        s_tmp = nullptr;
    }

    testsupport::TempDir t{"shot-run"};
    fs::path program = t.path() / "program" / "VelkorLauncher";

    void SetUp() override {
        fs::create_directories(program.parent_path());
        fs::create_directories(t.path() / "home");
        fs::copy_file(VELKOR_SYNTHETIC_LAUNCHER_BIN, program, fs::copy_options::overwrite_existing);
    }

    // Runs the program with `args`; `prefix` goes before it (a wrapper such as
    // xvfb-run), `env` are extra variables.
    int Run(const std::vector<std::string>& args, const std::string& env = "SDL_VIDEO_DRIVER=offscreen",
            const std::string& prefix = "") {
        const std::string home = (t.path() / "home").string();
        std::string command = "cd " + Quote(t.path()) + " && env -i PATH='" VELKOR_SOURCE_DIR
                              "/tests/support/bin:/usr/bin:/bin' HOME='" + home + "' XDG_CONFIG_HOME='" + home +
                              "/.config' XDG_DATA_HOME='" + home + "/.local/share' XDG_CACHE_HOME='" + home +
                              "/.cache' TMPDIR=" + Quote(t.path()) + " DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus VELKOR_SETUP_LANGUAGE=en STANDIN_LOG=" +
                              Quote(t.path() / "standin.log") + " " + env + " " + prefix + " " + Quote(program);
        for (const std::string& a : args) command += " '" + a + "'";
        command += " > " + Quote(t.path() / "output.txt") + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Log() { return Read(program.parent_path() / "VelkorSetup.log"); }
    std::string Standin() { return Read(t.path() / "standin.log"); }

    static bool Load(const fs::path& file, Picture& picture) {
        const std::string bytes = Read(file);
        return plat::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), picture.w, picture.h,
                               picture.rgba);
    }

    // The checks every screenshot run must pass.
    void ExpectScreenshot(const fs::path& file) {
        // VELKOR_KEEP_SHOTS=<folder> keeps a copy of every picture for a look.
        if (const char* keep = std::getenv("VELKOR_KEEP_SHOTS")) {
            std::error_code ec;
            fs::copy_file(file, fs::path(keep) / file.filename(), fs::copy_options::overwrite_existing, ec);
        }
        std::string out;
        EXPECT_EQ(Shell("pngcheck " + Quote(file), out), 0) << out;
        EXPECT_TRUE(Has(out, "1280x720")) << out;
        Picture p;
        ASSERT_TRUE(Load(file, p));
        ASSERT_EQ(p.w, 1280);
        ASSERT_EQ(p.h, 720);
        size_t translucent = 0;
        for (size_t i = 3; i < p.rgba.size(); i += 4) translucent += p.rgba[i] != 255;
        EXPECT_EQ(translucent, 0u);
        // The left margin (where nothing of the page is drawn) is the composed
        // backdrop: gradient, weave, fold, light map and foliage.
        ASSERT_EQ(s_backdrop.size(), size_t(1280) * 720);
        int off = 0, compared = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 20; ++x) {
                const uint8_t* got = p.rgba.data() + (size_t(y) * 1280 + x) * 4;
                const uint32_t want = s_backdrop[size_t(y) * 1280 + x];
                ++compared;
                off += std::abs(got[0] - int(want & 0xFF)) > 2 || std::abs(got[1] - int((want >> 8) & 0xFF)) > 2 ||
                       std::abs(got[2] - int((want >> 16) & 0xFF)) > 2;
            }
        EXPECT_EQ(off, 0) << "of " << compared << " margin pixels";
    }
};
testsupport::TempDir* Screenshot::s_tmp = nullptr;
fs::path Screenshot::s_dump;
std::vector<uint32_t> Screenshot::s_backdrop;

TEST_F(Screenshot, OffscreenRunWritesTheComposedScreen) {
    const fs::path file = t.path() / "out.png";
    EXPECT_EQ(Run({"--game", s_dump.string(), "--screenshot", file.string()}), 0) << Read(t.path() / "output.txt");
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "[launcher] window 1280x720 (scale 1.00), renderer ")) << log;
    EXPECT_TRUE(Has(log, "[launcher] fonts: the game's Ombrax fonts, atlas ")) << log;
    EXPECT_TRUE(Has(log, "[launcher] screenshot " + file.string() + ": ok\n")) << log;
    EXPECT_FALSE(Has(log, "no game art")) << log;
    ExpectScreenshot(file);
}

TEST_F(Screenshot, XvfbRunWithTheX11Driver) {
    std::string out;
    if (Shell("command -v xvfb-run", out) != 0) GTEST_SKIP() << "xvfb-run is not installed";
    const fs::path file = t.path() / "x11.png";
    EXPECT_EQ(Run({"--game", s_dump.string(), "--screenshot", file.string()}, "SDL_VIDEO_DRIVER=x11",
                  "/usr/bin/xvfb-run -a -s '-screen 0 1920x1080x24'"),
              0)
        << Read(t.path() / "output.txt");
    EXPECT_TRUE(Has(Log(), "[launcher] screenshot " + file.string() + ": ok\n")) << Log();
    ExpectScreenshot(file);
}

TEST_F(Screenshot, WithoutTheGameFontsTheScreenUsesTheSystemFont) {
    const fs::path plain = t.path() / "plain";
    std::string error;
    ASSERT_TRUE(MakeDump(plain, false, error)) << error;
    // velkor-make-dump may or may not carry the fonts; take them out.
    ASSERT_TRUE(testsupport::WriteDefaultRcf(plain, testsupport::GameFontsIn::None, error)) << error;
    const fs::path file = t.path() / "plain.png";
    EXPECT_EQ(Run({"--game", plain.string(), "--screenshot", file.string()}), 0);
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "[launcher] fonts: the system font only, atlas ")) << log;
    EXPECT_TRUE(Has(log, ", 0 game glyph images (system font ")) << log;
    EXPECT_TRUE(Has(log, "[launcher] no game art (game folder without the fonts)\n")) << log;
    // The backdrop still uses the art the loader found.
    ExpectScreenshot(file);
}

TEST_F(Screenshot, NoVideoMeansExitCodeOneWithAMessage) {
    const fs::path file = t.path() / "none.png";
    EXPECT_EQ(Run({"--game", s_dump.string(), "--screenshot", file.string()}, "SDL_VIDEO_DRIVER=no-such-driver"),
              1);
    EXPECT_TRUE(Has(Log(), "[launcher] SDL_Init failed: ")) << Log();
    EXPECT_TRUE(Has(Standin(), "\"--error\"")) << Standin();
    EXPECT_TRUE(Has(Standin(), "VelkorLauncher")) << Standin();
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Screenshot, NoRendererMeansExitCodeOneWithTheWindowMessage) {
    const fs::path file = t.path() / "none.png";
    EXPECT_EQ(Run({"--game", s_dump.string(), "--screenshot", file.string()},
                  "SDL_VIDEO_DRIVER=offscreen SDL_RENDER_DRIVER=no-such-renderer"),
              1);
    EXPECT_TRUE(Has(Log(), "[launcher] no window: ")) << Log();
    EXPECT_TRUE(Has(Standin(), "\"--text=N\\u00e3o foi poss\\u00edvel abrir a janela (SDL).\"")) << Standin();
    EXPECT_FALSE(fs::exists(file));
}

} // namespace
