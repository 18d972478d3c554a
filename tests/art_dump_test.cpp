// The synthetic dump as the installer meets it: velkor-make-dump writes the
// folder, the art is read back through the mount table, default.rcf and the
// three packages, and velkor-art-preview shows every image.
#include "runtime/fs/vfs.h"
#include "runtime/platform/image_posix.h"
#include "runtime/settings/menu_art_fonts_internal.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/synthetic_dump.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sys/wait.h>

namespace ma = settings::menu_art;
namespace fs = std::filesystem;

namespace {

// Runs a command; its standard output (and error) comes back in `out`.
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

class DumpTest : public ::testing::Test {
protected:
    static testsupport::TempDir* s_tmp;
    static fs::path s_dump;
    static void SetUpTestSuite() {
        s_tmp = new testsupport::TempDir("art-dump");
        s_dump = s_tmp->path() / "dump";
        std::string out;
        ASSERT_EQ(Shell(Quote(fs::path(VELKOR_BUILD_DIR) / "velkor-make-dump") + " " + Quote(s_dump), out), 0) << out;
    }
    static void TearDownTestSuite() {
        delete s_tmp;
        s_tmp = nullptr;
    }
};
testsupport::TempDir* DumpTest::s_tmp = nullptr;
fs::path DumpTest::s_dump;

TEST(SyntheticXex, DigestIsTheOneTheSyntheticProgramAccepts) {
    const std::vector<uint8_t> xex = testsupport::SyntheticXex();
    ASSERT_EQ(xex.size(), 65536u);
    EXPECT_EQ(std::string(xex.begin(), xex.begin() + 4), "XEX2");
    EXPECT_EQ(xex[4], uint8_t((4u * 2654435761u) >> 24));
    testsupport::TempDir tmp("art-dump");
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / "default.xex", xex));
    std::string out;
    ASSERT_EQ(Shell("sha256sum " + Quote(tmp / "default.xex"), out), 0);
    EXPECT_EQ(out.substr(0, 64), VELKOR_SYNTHETIC_XEX_SHA256);
    EXPECT_EQ(out.substr(0, 64), "d2d12f57410e900e16129e6b00d3b70064dab4bedf5434f0770f4d5e633613f7");
}

TEST_F(DumpTest, HoldsEveryFileOfADiscDump) {
    for (const char* name : {"default.xex", "default.rcf", "english.rcf", "sound1.rcf", "sound2.rcf"}) {
        std::error_code ec;
        EXPECT_TRUE(fs::is_regular_file(s_dump / name, ec)) << name;
    }
    std::error_code ec;
    EXPECT_TRUE(fs::is_directory(s_dump / "shaders", ec));
    EXPECT_FALSE(fs::is_empty(s_dump / "shaders", ec));
    std::string out;
    ASSERT_EQ(Shell("sha256sum " + Quote(s_dump / "default.xex"), out), 0);
    EXPECT_EQ(out.substr(0, 64), VELKOR_SYNTHETIC_XEX_SHA256);
    // The other archives are archives the reader indexes.
    for (const char* name : {"english.rcf", "sound1.rcf", "sound2.rcf"}) {
        ma::Rcf rcf;
        EXPECT_TRUE(ma::OpenRcfFile(rcf, s_dump / name)) << name;
        EXPECT_FALSE(rcf.entries.empty()) << name;
    }
}

TEST_F(DumpTest, WritingIsDeterministic) {
    const fs::path again = s_tmp->path() / "again";
    std::string out;
    ASSERT_EQ(Shell(Quote(fs::path(VELKOR_BUILD_DIR) / "velkor-make-dump") + " " + Quote(again), out), 0) << out;
    for (const char* name : {"default.xex", "default.rcf", "english.rcf", "sound1.rcf", "sound2.rcf"})
        EXPECT_EQ(testsupport::ReadFileBytes(again / name), testsupport::ReadFileBytes(s_dump / name)) << name;
    // The writer on its own (without what the tool adds to the packages) is as stable.
    std::string error;
    ASSERT_TRUE(testsupport::WriteSyntheticDump(s_tmp->path() / "w1", error)) << error;
    ASSERT_TRUE(testsupport::WriteSyntheticDump(s_tmp->path() / "w2", error)) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(s_tmp->path() / "w1" / "default.rcf"),
              testsupport::ReadFileBytes(s_tmp->path() / "w2" / "default.rcf"));
}

TEST_F(DumpTest, ArchiveHasUnsortedDirectoryAndMixedCaseNames) {
    const std::vector<uint8_t> rcf = testsupport::ReadFileBytes(s_dump / "default.rcf");
    ASSERT_GE(rcf.size(), 60u);
    const uint32_t dir = ma::BE32(&rcf[0x24]), count = ma::BE32(&rcf[0x38]);
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < count; ++i) offsets.push_back(ma::BE32(&rcf[dir + i * 12 + 4]));
    EXPECT_FALSE(std::is_sorted(offsets.begin(), offsets.end()));
    const std::string all(rcf.begin(), rcf.end());
    EXPECT_NE(all.find("package\\B4C85FE7.p3d"), std::string::npos);
    EXPECT_NE(all.find("Package\\c1e387c7.P3D"), std::string::npos);
}

TEST_F(DumpTest, EveryMenuImageLoadsAsDrawn) {
    vfs::Init({s_dump, {}, s_tmp->path() / "userdata"});
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    std::set<std::string> kinds;
    for (const ma::ArtSource& s : ma::ART_SOURCES) {
        SCOPED_TRACE(s.name);
        std::vector<unsigned char> package;
        std::string source;
        ASSERT_TRUE(ma::ReadEntry(rcf, s.package, package, source));
        EXPECT_EQ(source, "default.rcf");
        ma::Image image, want;
        ASSERT_TRUE(ma::FindImage(package, s.name, image));
        const testsupport::RgbaImage drawn = testsupport::PaintArt(s.art);
        ma::Premultiplied(drawn.rgba, drawn.w, drawn.h, want);
        EXPECT_EQ(image.w, want.w);
        EXPECT_EQ(image.h, want.h);
        EXPECT_TRUE(image.px == want.px);
        // How it is stored: a texture, a bordered single tile, or stitched tiles.
        auto visit = [&](const ma::Chunk& c) {
            if ((c.id != ma::CHUNK_TEXTURE && c.id != ma::CHUNK_SPRITE) || c.header < 14) return;
            if (ma::Lower(ma::Pascal(package.data() + c.offset + 12, c.header - 13)) != ma::Lower(s.name)) return;
            const size_t tiles = ma::Children(package.data(), c.offset + c.header, c.offset + c.size).size();
            kinds.insert(c.id == ma::CHUNK_TEXTURE ? "texture" : tiles == 1 ? "single tile" : "tiles");
        };
        ma::Walk(package.data(), 0, package.size(), visit);
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"texture", "single tile", "tiles"}));
}

TEST_F(DumpTest, EmbeddedPngsPassPngcheck) {
    // Every PNG file inside the three packages, written out and checked.
    vfs::Init({s_dump, {}, s_tmp->path() / "userdata"});
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    const fs::path dir = s_tmp->path() / "embedded";
    fs::create_directories(dir);
    std::string files;
    int count = 0;
    for (const char* name : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND}) {
        std::vector<unsigned char> package;
        std::string source;
        ASSERT_TRUE(ma::ReadEntry(rcf, name, package, source));
        auto visit = [&](const ma::Chunk& c) {
            if (c.id != ma::CHUNK_IMAGE_DATA) return;
            const uint32_t n = ma::LE32(package.data() + c.offset + 12);
            const std::vector<uint8_t> png(package.begin() + long(c.offset) + 16, package.begin() + long(c.offset + 16 + n));
            const fs::path file = dir / ("p" + std::to_string(count++) + ".png");
            testsupport::WriteFileBytes(file, png);
            files += " " + Quote(file);
        };
        ma::Walk(package.data(), 0, package.size(), visit);
    }
    // One damaged copy of the logo is there on purpose; all others must pass.
    std::string out;
    Shell("pngcheck" + files, out);
    size_t ok = 0, errors = 0;
    for (size_t at = 0; (at = out.find("OK: ", at)) != std::string::npos; ++at) ++ok;
    for (size_t at = 0; (at = out.find("ERROR", at)) != std::string::npos; ++at) ++errors;
    EXPECT_GT(count, ma::ART_COUNT);  // tiles, a decoy and the damaged copy besides the eleven
    EXPECT_EQ(ok, size_t(count - 1)) << out;
    EXPECT_EQ(errors, 1u) << out;
}

TEST_F(DumpTest, PreviewToolListsEveryImageAndWritesASheet) {
    const fs::path sheet = s_tmp->path() / "sheet.png";
    // A copy of the tool of its own, so that its log (next to the program) is
    // not shared with tests running at the same time.
    const fs::path tool = s_tmp->path() / "tool" / "velkor-art-preview";
    fs::create_directories(tool.parent_path());
    fs::copy_file(fs::path(VELKOR_BUILD_DIR) / "velkor-art-preview", tool, fs::copy_options::overwrite_existing);
    std::string out;
    ASSERT_EQ(Shell(Quote(tool) + " --game " + Quote(s_dump) + " " + Quote(sheet),
                    out),
              0)
        << out;
    for (const ma::ArtSource& s : ma::ART_SOURCES) {
        const size_t at = out.find(s.name);
        ASSERT_NE(at, std::string::npos) << s.name;
        EXPECT_NE(out.find("default.rcf", at), std::string::npos);
    }
    EXPECT_NE(out.find("FE_Title_Logo.tga                     512 x 144"), std::string::npos) << out;
    EXPECT_NE(out.find("11 of 11 images"), std::string::npos);
    const std::vector<uint8_t> png = testsupport::ReadFileBytes(sheet);
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(plat::DecodePng(png.data(), png.size(), w, h, rgba));
    EXPECT_GT(w, 1000);
    EXPECT_GT(h, 800);

    // The loader's line names both fonts with the composed letters, and the
    // font sheet is a picture.
    EXPECT_NE(out.find("[settings] screen art: fonts Ombrax_Small"), std::string::npos) << out;
    EXPECT_NE(out.find("composed"), std::string::npos) << out;
    const std::vector<uint8_t> fonts = testsupport::ReadFileBytes(s_tmp->path() / "sheet-fonts.png");
    ASSERT_TRUE(plat::DecodePng(fonts.data(), fonts.size(), w, h, rgba));
    EXPECT_GT(h, 1000);
}

TEST_F(DumpTest, PreviewShowsModOverridesAndMissingImages) {
    // A mod replaces the in-game package with one holding only the star.
    const fs::path mods = s_tmp->path() / "mods";
    const fs::path loose = mods / "Star Mod" / "rcf" / "default";
    fs::create_directories(loose);
    const testsupport::RgbaImage star = testsupport::PaintArt(ma::Art::StarFull);
    ASSERT_TRUE(testsupport::WriteFileBytes(loose / ma::PACKAGE_INGAME,
                                            testsupport::BuildPackage({testsupport::ArtTexture("FE_star_open.tga", star)})));
    std::string out;
    EXPECT_EQ(Shell(Quote(fs::path(VELKOR_BUILD_DIR) / "velkor-art-preview") + " --game " + Quote(s_dump) + " --mods " +
                        Quote(mods) + " " + Quote(s_tmp->path() / "mod.png"),
                    out),
              3)
        << out;
    EXPECT_NE(out.find("FE_star_open.tga                       64 x 64   mod Star Mod"), std::string::npos) << out;
    EXPECT_NE(out.find("InGame_Pause_Background.tga          missing"), std::string::npos) << out;
    EXPECT_NE(out.find("10 of 11 images"), std::string::npos);
}

} // namespace

namespace {

void ExpectSameLoad(const ma::ArtLoad& a, const ma::ArtLoad& b) {
    EXPECT_EQ(a.archiveOpened, b.archiveOpened);
    EXPECT_EQ(a.fontsLoaded, b.fontsLoaded);
    EXPECT_EQ(a.persistentSource, b.persistentSource);
    EXPECT_EQ(a.composition, b.composition);
    for (int i = 0; i < ma::ART_COUNT; ++i) {
        EXPECT_EQ(a.art[i].w, b.art[i].w) << i;
        EXPECT_TRUE(a.art[i].px == b.art[i].px) << i;
    }
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(a.fonts[f].name, b.fonts[f].name);
        EXPECT_EQ(a.fonts[f].glyphs.size(), b.fonts[f].glyphs.size());
        ASSERT_EQ(a.fonts[f].pages.size(), b.fonts[f].pages.size());
        for (size_t p = 0; p < a.fonts[f].pages.size(); ++p) EXPECT_TRUE(a.fonts[f].pages[p].px == b.fonts[f].pages[p].px);
        for (const auto& [code, glyph] : a.fonts[f].glyphs) {
            ASSERT_TRUE(b.fonts[f].glyphs.count(code));
            EXPECT_TRUE(glyph.cell.px == b.fonts[f].glyphs.at(code).cell.px) << uint32_t(code);
        }
    }
}

// The load run with its helper thread and all on one thread.
void LoadBothWays(ma::ArtLoad& withHelper, ma::ArtLoad& alone) {
    ma::LoadArt(withHelper);
    ma::testing::SetLoaderHelper(false);
    ma::LoadArt(alone);
    ma::testing::SetLoaderHelper(true);
}

} // namespace

TEST_F(DumpTest, LoadingOnTwoThreadsGivesWhatOneThreadGives) {
    vfs::Init({s_dump, {}, s_tmp->path() / "userdata"});
    ma::ArtLoad two, one;
    LoadBothWays(two, one);
    EXPECT_TRUE(two.fontsLoaded);
    EXPECT_EQ(two.ImagesFound(), ma::ART_COUNT);
    EXPECT_EQ(two.composition,
              "Ombrax_Small: ãõÃÕÊÔ composed on new page 3; Ombrax_Large: ãõÃÕÊÔ composed on new page 3; ");
    ExpectSameLoad(two, one);

    // Without the small font the large one is not taken, nor reported, even
    // though it loads side by side with the small one.
    const fs::path game = s_tmp->path() / "no-small-font";
    std::string error;
    ASSERT_TRUE(testsupport::WriteDefaultRcf(game, testsupport::GameFontsIn::LargeOnly, error)) << error;
    vfs::Init({game, {}, s_tmp->path() / "userdata"});
    ma::ArtLoad twoWithout, oneWithout;
    LoadBothWays(twoWithout, oneWithout);
    EXPECT_FALSE(twoWithout.fontsLoaded);
    EXPECT_TRUE(twoWithout.fonts[1].name.empty());
    EXPECT_EQ(twoWithout.composition, "");
    EXPECT_EQ(twoWithout.ImagesFound(), ma::ART_COUNT);
    ExpectSameLoad(twoWithout, oneWithout);
}
