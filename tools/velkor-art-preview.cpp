// velkor-art-preview --game FOLDER OUT.png: loads the menu art of a game dump
// the way the installer does (mount table, default.rcf, mod overrides, the
// three packages, FindImage) and writes a contact sheet of every image found,
// printing one line per image with its name, size and source. It then runs the
// installer's art loader and writes a font sheet (OUT-fonts.png): the sample
// lines in both game fonts, the screen's text styles and the overlay font,
// and prints the loader's log line.
#include "runtime/fs/vfs.h"
#include "runtime/gpu/png_writer.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/menu_art_fonts.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_preview.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace ma = settings::menu_art;

namespace {

struct Found {
    const ma::ArtSource* source;
    ma::Image image;
    std::string from;
};

// Blends a premultiplied pixel over an opaque straight RGB byte triple.
void Over(uint8_t* dst, uint32_t src) {
    const uint32_t a = src >> 24, k = 255 - a;
    for (int c = 0; c < 3; ++c) {
        const uint32_t s = (src >> (8 * c)) & 0xFF;
        dst[c] = uint8_t(std::min<uint32_t>(255, s + (dst[c] * k + 127) / 255));
    }
}

// The image reduced (area average over a 4 x 4 sample grid) to fit w x h.
uint32_t Sample(const ma::Image& img, double x0, double y0, double x1, double y1) {
    double acc[4] = {0, 0, 0, 0};
    int n = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            const int x = std::clamp(int(x0 + (x1 - x0) * (sx + 0.5) / 4), 0, img.w - 1);
            const int y = std::clamp(int(y0 + (y1 - y0) * (sy + 0.5) / 4), 0, img.h - 1);
            const uint32_t p = img.px[size_t(y) * size_t(img.w) + size_t(x)];
            for (int c = 0; c < 4; ++c) acc[c] += (p >> (8 * c)) & 0xFF;
            ++n;
        }
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) out |= uint32_t(acc[c] / n + 0.5) << (8 * c);
    return out;
}

// The art loader's line of this run's log.
std::string LoaderLogLine() {
    std::ifstream in(plat::ExecutablePath().parent_path() / "VelkorSetup.log");
    std::string line, found;
    while (std::getline(in, line))
        if (line.rfind("[settings] screen art:", 0) == 0) found = line;
    return found;
}

} // namespace

int main(int argc, char** argv) {
    std::string game, out, mods;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--game" && i + 1 < argc) game = argv[++i];
        else if (a == "--mods" && i + 1 < argc) mods = argv[++i];
        else if (out.empty() && a.rfind("--", 0) != 0) out = a;
        else {
            out.clear();
            break;
        }
    }
    if (game.empty() || out.empty()) {
        std::fprintf(stderr, "usage: %s --game FOLDER [--mods FOLDER] OUT.png\n", argv[0]);
        return 2;
    }

    std::error_code ec;
    const std::filesystem::path userData = std::filesystem::temp_directory_path(ec) / "velkor-art-preview";
    vfs::Init({game, mods, userData});

    ma::Rcf rcf;
    const bool opened = ma::OpenRcf(rcf);
    if (!opened) std::fprintf(stderr, "default.rcf could not be opened in %s\n", game.c_str());

    // The installer's order: persistent, inGame, frontend; images in table order per package.
    std::vector<Found> found;
    int missing = 0;
    for (const char* package : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND}) {
        std::vector<unsigned char> data;
        std::string source;
        const bool read = opened && ma::ReadEntry(rcf, package, data, source);
        for (const ma::ArtSource& s : ma::ART_SOURCES) {
            if (std::string(s.package) != package) continue;
            ma::Image image;
            if (read) ma::FindImage(data, s.name, image);
            if (image.w == 0) {
                std::printf("%-36s missing (%s)\n", s.name, read ? package : "package not read");
                ++missing;
                continue;
            }
            std::printf("%-36s %4d x %-4d %s %s\n", s.name, image.w, image.h, source.c_str(), package);
            found.push_back({&s, std::move(image), source});
        }
    }

    // Contact sheet: three columns of 520 x 390 cells (the art at full size) on a dark checkerboard
    // (so white, tinted art and transparency show).
    const int cols = 3, cellW = 520, cellH = 390, pad = 12;
    const int rows = std::max<int>(1, (int(found.size()) + cols - 1) / cols);
    const int W = cols * (cellW + pad) + pad, H = rows * (cellH + pad) + pad;
    std::vector<uint8_t> sheet(size_t(W) * size_t(H) * 4, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = &sheet[(size_t(y) * size_t(W) + size_t(x)) * 4];
            const bool dark = ((x / 12) + (y / 12)) % 2 == 0;
            p[0] = dark ? 34 : 48;
            p[1] = dark ? 38 : 54;
            p[2] = dark ? 46 : 64;
            p[3] = 255;
        }
    for (size_t i = 0; i < found.size(); ++i) {
        const ma::Image& img = found[i].image;
        const int cx = pad + int(i % cols) * (cellW + pad), cy = pad + int(i / cols) * (cellH + pad);
        const double scale = std::min({1.0, double(cellW) / img.w, double(cellH) / img.h});
        const int dw = std::max(1, int(img.w * scale)), dh = std::max(1, int(img.h * scale));
        const int ox = cx + (cellW - dw) / 2, oy = cy + (cellH - dh) / 2;
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const uint32_t p = Sample(img, x / scale, y / scale, (x + 1) / scale, (y + 1) / scale);
                Over(&sheet[(size_t(oy + y) * size_t(W) + size_t(ox + x)) * 4], p);
            }
    }
    if (!gpu::WritePng(out, sheet.data(), uint32_t(W), uint32_t(H), uint32_t(W) * 4)) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%zu of %d images, contact sheet %s (%d x %d)\n", found.size(), ma::ART_COUNT, out.c_str(), W, H);

    // The fonts as the installer gets them: the loader thread, then the sheet.
    ma::StartLoading();
    if (!ma::Ready(8000)) std::fprintf(stderr, "the art loader did not finish in 8 s\n");
    const std::string logLine = LoaderLogLine();
    std::printf("%s\n", logLine.empty() ? "(no loader log line)" : logLine.c_str());
    std::filesystem::path fontsOut = out;
    fontsOut.replace_filename(fontsOut.stem().string() + "-fonts.png");
    ma::Canvas canvas;
    testsupport::DrawFontSheet(canvas);
    if (!testsupport::WriteCanvasPng(canvas, fontsOut)) {
        std::fprintf(stderr, "cannot write %s\n", fontsOut.c_str());
        return 1;
    }
    std::printf("font sheet %s (%d x %d)\n", fontsOut.c_str(), canvas.Width(), canvas.Height());
    return missing == 0 ? 0 : 3;
}
