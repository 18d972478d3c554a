// The font sample sheet of the art preview: drawn from the fixture fonts (and
// without them, in the overlay font), written as a PNG that pngcheck accepts.
#include "runtime/settings/menu_art_fonts_internal.h"
#include "tests/support/font_fixture.h"
#include "tests/support/font_preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace ma = settings::menu_art;

namespace {

std::filesystem::path TempFolder() {
    const char* base = std::getenv("VELKOR_TEST_TMP");
    std::error_code ec;
    std::filesystem::create_directories(base ? base : "/tmp", ec);
    std::string pattern = std::string(base ? base : "/tmp") + "/font-sheet-XXXXXX";
    return mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
}

size_t DistinctColours(const ma::Canvas& canvas) {
    std::vector<uint32_t> px = canvas.Pixels();
    std::sort(px.begin(), px.end());
    return size_t(std::unique(px.begin(), px.end()) - px.begin());
}

} // namespace

TEST(FontSheet, DrawsBothFontsThenTheOverlayFont) {
    testsupport::GameFontSet fonts;
    std::string error;
    ASSERT_TRUE(testsupport::GameFonts(fonts, &error)) << error;
    std::string log;
    ASSERT_TRUE(testsupport::UsePackageFonts(testsupport::BuildPackage({fonts.small, fonts.large}), log));
    EXPECT_NE(log.find("Ombrax_Large: ãõÃÕÊÔ composed"), std::string::npos) << log;

    ma::Canvas full;
    testsupport::DrawFontSheet(full);
    EXPECT_EQ(full.Width(), 1800);
    EXPECT_GT(DistinctColours(full), 1000u);
    EXPECT_TRUE(ma::FontsOk()) << "the sheet switches back to the game fonts";

    // Without game fonts only the overlay section remains.
    ASSERT_FALSE(testsupport::UsePackageFonts({}, log));
    ma::Canvas overlay;
    testsupport::DrawFontSheet(overlay);
    EXPECT_EQ(overlay.Width(), 1800);
    EXPECT_LT(overlay.Height(), full.Height() / 3);

    const std::filesystem::path dir = TempFolder();
    ASSERT_FALSE(dir.empty());
    const std::filesystem::path png = dir / "sheet.png";
    ASSERT_TRUE(testsupport::WriteCanvasPng(full, png));
    if (std::system("command -v pngcheck > /dev/null 2>&1") == 0) {
        EXPECT_EQ(std::system(("pngcheck -q '" + png.string() + "' > /dev/null 2>&1").c_str()), 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
