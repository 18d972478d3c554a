// System fonts through fontconfig and FreeType opened at run time, and the
// grey-level text canvas. The lookups log once per process, so the scenarios
// that read the log run in a copy of this program in a folder of its own (the
// DISABLED_ tests, chosen with --gtest_filter); a copy of another library
// named libfreetype.so.6 first on LD_LIBRARY_PATH stands for a system whose
// FreeType cannot be used.
#include "runtime/platform/platform.h"
#include "runtime/platform/text_canvas.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Child {
    int status = -1;
    std::string output;
    std::string log;
};

Child RunChild(const testsupport::TempDir& tmp, const std::string& test, const std::string& env = "") {
    Child run;
    const fs::path bin = tmp.path() / "bin";
    std::error_code ec;
    fs::create_directories(bin, ec);
    const fs::path copy = bin / "fonts_child";
    fs::copy_file(plat::ExecutablePath(), copy, fs::copy_options::overwrite_existing, ec);
    const fs::path out = tmp.path() / "child.txt";
    const std::string command = env + " '" + copy.string() +
                                "' --gtest_also_run_disabled_tests --gtest_filter='FontChild.DISABLED_" + test +
                                "' > '" + out.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.output = Read(out);
    run.log = Read(bin / "VelkorSetup.log");
    return run;
}

TEST(FontChild, DISABLED_LooksUpEachFaceOnce) {
    const std::string bold = plat::SystemFontFile(plat::FontFace::Ui, true);
    const std::string regular = plat::SystemFontFile(plat::FontFace::Ui, false);
    ASSERT_FALSE(bold.empty());
    ASSERT_FALSE(regular.empty());
    EXPECT_TRUE(fs::is_regular_file(bold));
    EXPECT_TRUE(fs::is_regular_file(regular));
    EXPECT_EQ(plat::SystemFontFile(plat::FontFace::Ui, true), bold);
    EXPECT_EQ(plat::SystemFontFile(plat::FontFace::Ui, false), regular);
    plat::TextCanvas canvas;
    EXPECT_TRUE(canvas.SetFont(plat::FontFace::Ui, 20, true));  // the cached file again
}

TEST(FontChild, DISABLED_WithoutFreeTypeEverythingDegrades) {
    EXPECT_EQ(plat::SystemFontFile(plat::FontFace::Ui, true), "");
    EXPECT_EQ(plat::SystemFontFile(plat::FontFace::Monospace, false), "");
    plat::TextCanvas canvas;
    EXPECT_FALSE(canvas.SetFont(plat::FontFace::Ui, 20, false));
    int cw = 0, lh = 0;
    canvas.Metrics(cw, lh);
    EXPECT_EQ(cw, 1);
    EXPECT_EQ(lh, 1);
    EXPECT_EQ(canvas.TextWidth(L"text"), 0);
    int w = 5, h = 5;
    canvas.MeasureWrapped(L"some text", 100, w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    ASSERT_TRUE(canvas.Resize(8, 8));
    canvas.Draw(0, 0, L"x");
    EXPECT_EQ(std::count(canvas.Pixels(), canvas.Pixels() + 64, 0u), 64);
}

TEST(SystemFonts, EachFaceAndWeightIsLookedUpAndLoggedOnce) {
    testsupport::TempDir tmp("fonts");
    const Child run = RunChild(tmp, "LooksUpEachFaceOnce");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Occurrences(run.log, "[text] sans-serif semibold: /"), 1) << run.log;
    EXPECT_EQ(Occurrences(run.log, "[text] sans-serif: /"), 1) << run.log;
    EXPECT_EQ(Occurrences(run.log, "[text] "), 2) << run.log;
}

TEST(SystemFonts, AFreeTypeThatCannotBeUsedIsReportedOnce) {
    testsupport::TempDir tmp("fonts");
    // Any library that is not FreeType will do.
    const fs::path lib = tmp.path() / "lib";
    fs::create_directories(lib);
    std::error_code ec;
    fs::path donor;
    for (const char* candidate : {"/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1",
                                  "/lib64/libz.so.1", "/usr/lib/libz.so.1", "/lib/aarch64-linux-gnu/libz.so.1"})
        if (fs::exists(candidate, ec)) {
            donor = candidate;
            break;
        }
    if (donor.empty()) GTEST_SKIP() << "no libz.so.1 to stand in for FreeType";
    fs::copy_file(donor, lib / "libfreetype.so.6", ec);
    ASSERT_FALSE(ec) << ec.message();
    const Child run = RunChild(tmp, "WithoutFreeTypeEverythingDegrades", "LD_LIBRARY_PATH='" + lib.string() + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Occurrences(run.log,
                          "[text] libfreetype.so.6 / libfontconfig.so.1 not usable ("),
              1)
        << run.log;
    EXPECT_EQ(Occurrences(run.log, "): no subtitles or console text\n"), 1) << run.log;
}

class Canvas : public ::testing::Test {
protected:
    plat::TextCanvas canvas;
    int charWidth = 0, lineHeight = 0;
    void SetUp() override {
        if (plat::SystemFontFile(plat::FontFace::Ui, false).empty()) GTEST_SKIP() << "no system font";
        ASSERT_TRUE(canvas.SetFont(plat::FontFace::Ui, 20, false));
        canvas.Metrics(charWidth, lineHeight);
    }
    int Lit(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += canvas.Pixels()[y * canvas.Width() + x] != 0;
        return n;
    }
};

TEST_F(Canvas, MetricsAndGreyLevels) {
    EXPECT_GT(charWidth, 3);
    EXPECT_GE(lineHeight, 20);
    EXPECT_EQ(canvas.Pixels(), nullptr);
    ASSERT_TRUE(canvas.Resize(200, 40));
    EXPECT_FALSE(canvas.Resize(0, 10));
    EXPECT_FALSE(canvas.Resize(10, -1));
    EXPECT_EQ(canvas.Width(), 200);
    EXPECT_EQ(canvas.Height(), 40);
    canvas.Draw(2, 5, L"Hello");
    int lit = 0;
    for (int i = 0; i < 200 * 40; ++i) {
        const uint32_t p = canvas.Pixels()[i];
        const uint32_t v = p & 0xFF;
        EXPECT_EQ(p, v * 0x010101u);
        lit += v != 0;
    }
    EXPECT_GT(lit, 40);
    EXPECT_EQ(Lit(2 + canvas.TextWidth(L"Hello") + 2, 0, 200, 40), 0);
    plat::TextCanvas copy(canvas);
    EXPECT_EQ(copy.Width(), 200);
    EXPECT_NE(copy.Pixels(), canvas.Pixels());
    EXPECT_TRUE(std::equal(copy.Pixels(), copy.Pixels() + 200 * 40, canvas.Pixels()));
    canvas.Clear();
    EXPECT_EQ(Lit(0, 0, 200, 40), 0);
}

TEST_F(Canvas, WrappingParagraphsAndLongWords) {
    int w = 0, h = 0;
    canvas.MeasureWrapped(L"a b\n\nc", 100000, w, h);
    EXPECT_EQ(h, 3 * lineHeight) << "a b, an empty line, c";
    EXPECT_EQ(w, canvas.TextWidth(L"a b"));
    canvas.MeasureWrapped(L"a b\r\n", 100000, w, h);
    EXPECT_EQ(h, 2 * lineHeight);
    EXPECT_EQ(w, canvas.TextWidth(L"a b"));
    canvas.MeasureWrapped(L"incomprehensibilities", 30, w, h);
    EXPECT_EQ(w, 30) << "a word wider than the limit stays whole; the width is the limit";
    EXPECT_EQ(h, lineHeight);
    const int one = canvas.TextWidth(L"word");
    canvas.MeasureWrapped(L"word word word", one + canvas.TextWidth(L" ") + one, w, h);
    EXPECT_EQ(h, 2 * lineHeight);
}

TEST_F(Canvas, WrappedTextIsCentredAndClipped) {
    ASSERT_TRUE(canvas.Resize(300, 6 * lineHeight));
    const int width = canvas.TextWidth(L"mid");
    canvas.DrawWrapped(L"mid", 0, lineHeight, 300, lineHeight);
    const int left = (300 - width) / 2;
    EXPECT_GT(Lit(left, lineHeight, left + width + 2, 2 * lineHeight), 0);
    EXPECT_EQ(Lit(0, 0, left - 2, 6 * lineHeight), 0);
    EXPECT_EQ(Lit(left + width + 3, 0, 300, 6 * lineHeight), 0);
    canvas.Clear();
    // Three lines into a box one line high: only the first shows.
    canvas.DrawWrapped(L"one\ntwo\nthree", 0, lineHeight, 300, lineHeight);
    EXPECT_GT(Lit(0, lineHeight, 300, 2 * lineHeight), 0);
    EXPECT_EQ(Lit(0, 0, 300, lineHeight), 0);
    EXPECT_EQ(Lit(0, 2 * lineHeight, 300, 6 * lineHeight), 0);
    canvas.Clear();
    canvas.DrawWrapped(L"one", 0, 0, 300, 0);
    EXPECT_EQ(Lit(0, 0, 300, 6 * lineHeight), 0);
}

TEST_F(Canvas, APixelHeightOfZeroLoadsTheFaceAtOnePixel) {
    plat::TextCanvas tiny;
    ASSERT_TRUE(tiny.SetFont(plat::FontFace::Ui, 0, false));
    int cw = 0, lh = 0;
    tiny.Metrics(cw, lh);
    EXPECT_LE(lh, 3);
    EXPECT_GE(cw, 1);
    // A failed SetFont keeps the previous font.
    EXPECT_TRUE(canvas.SetFont(plat::FontFace::Ui, 20, false));
}

} // namespace
