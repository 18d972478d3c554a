#include "tests/support/synthetic_dump.h"

#include "runtime/fs/vfs.h"
#include "runtime/paths.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/font_fixture.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace testsupport {
namespace {

using settings::menu_art::Art;
using settings::menu_art::ART_SOURCES;

std::vector<uint8_t> Png(const RgbaImage& image) { return settings::language_font::EncodePng(image, {}, {}); }

RgbaImage Region(const RgbaImage& image, int x0, int y0, int w, int h) {
    // Pixels outside the image repeat its nearest edge pixel.
    RgbaImage out;
    out.w = w;
    out.h = h;
    out.rgba.resize(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx = std::clamp(x0 + x, 0, image.w - 1), sy = std::clamp(y0 + y, 0, image.h - 1);
            std::copy(image.At(sx, sy), image.At(sx, sy) + 4, out.At(x, y));
        }
    return out;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Deterministic filler for entries the installer never reads.
std::vector<uint8_t> Filler(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return out;
}

// A short sound bank: a header and 16-bit PCM of a soft chord.
std::vector<uint8_t> SoundBank(float base, size_t samples) {
    std::vector<uint8_t> out = Bytes("RSD4PCM ");
    AppendLE32(out, 2);      // channels
    AppendLE32(out, 16);     // bits
    AppendLE32(out, 44100);  // rate
    for (size_t i = 0; i < samples; ++i) {
        const float t = float(i) / 44100;
        const float env = std::min(1.0f, t * 8) * std::exp(-t * 1.5f);
        const float v = env * 0.3f * (std::sin(6.2831853f * base * t) + 0.5f * std::sin(6.2831853f * base * 1.5f * t));
        const int16_t s = int16_t(std::lround(v * 32767));
        for (int ch = 0; ch < 2; ++ch) {
            out.push_back(uint8_t(s & 0xFF));
            out.push_back(uint8_t((s >> 8) & 0xFF));
        }
    }
    return out;
}

// A chunk the menu code does not know (a shader description).
P3dChunk ShaderChunk(const std::string& name) {
    P3dChunk c;
    c.id = 0x11000;
    AppendPascal(c.data, name);
    AppendLE32(c.data, 0);
    AppendPascal(c.data, "simple");
    AppendLE32(c.data, 1);
    return c;
}

} // namespace

std::vector<uint8_t> SyntheticXex() {
    std::vector<uint8_t> out(SYNTHETIC_XEX_SIZE);
    out[0] = 'X';
    out[1] = 'E';
    out[2] = 'X';
    out[3] = '2';
    for (uint32_t i = 4; i < SYNTHETIC_XEX_SIZE; ++i) out[i] = uint8_t((i * 2654435761u) >> 24);
    return out;
}

SpriteTile BorderedTile(const RgbaImage& image) {
    const RgbaImage tile = Region(image, -1, -1, image.w + 2, image.h + 2);
    return {Png(tile), uint32_t(tile.w), uint32_t(tile.h)};
}

std::vector<SpriteTile> SpriteTiles(const RgbaImage& image, int tileW, int tileH) {
    std::vector<SpriteTile> tiles;
    for (int y = 0; y < image.h; y += tileH)
        for (int x = 0; x < image.w; x += tileW) {
            const int w = std::min(tileW, image.w - x), h = std::min(tileH, image.h - y);
            const RgbaImage tile = Region(image, x - 1, y - 1, w + 2, h + 2);
            tiles.push_back({Png(tile), uint32_t(tile.w), uint32_t(tile.h)});
        }
    return tiles;
}

P3dChunk ArtTexture(const std::string& name, const RgbaImage& image) {
    return TextureChunk(name, Png(image), uint32_t(image.w), uint32_t(image.h));
}

MenuPackages SyntheticMenuPackages() {
    MenuPackages p;
    const auto name = [](Art a) { return std::string(ART_SOURCES[int(a)].name); };

    // persistent: the message frame (the fonts live here too).
    p.persistent.push_back(ShaderChunk("MSG_Background_shader"));
    p.persistent.push_back(ArtTexture(name(Art::MessageFrame), PaintArt(Art::MessageFrame)));

    // inGame: a decoy star, the pause strip as a four-tile sprite, and the star
    // as a single-tile sprite with its border; names in another case.
    p.inGame.push_back(ArtTexture("FE_star_closed.tga", PaintDecoyStar()));
    const RgbaImage strip = PaintArt(Art::PauseStrip);
    p.inGame.push_back(SpriteChunk("INGAME_PAUSE_BACKGROUND.TGA", uint32_t(strip.w), uint32_t(strip.h),
                                   SpriteTiles(strip, 128, strip.h)));
    const RgbaImage star = PaintArt(Art::StarFull);
    p.inGame.push_back(SpriteChunk("fe_star_open.tga", uint32_t(star.w), uint32_t(star.h), {BorderedTile(star)}));

    // frontend: textures under a dictionary chunk, a damaged copy of the logo
    // before the real one (a multi-row sprite that must be stitched).
    P3dChunk dictionary;
    dictionary.id = 0x19100;
    AppendPascal(dictionary.data, "frontend_textures");
    for (Art a : {Art::DividerLeft, Art::DividerRight, Art::BackdropWeave, Art::BackdropFold, Art::FoliageTop,
                  Art::FoliageBottom, Art::LightMap})
        dictionary.children.push_back(ArtTexture(name(a), PaintArt(a)));
    p.frontend.push_back(ShaderChunk("fe_background"));
    std::vector<uint8_t> damaged = Png(PaintDecoyStar());
    damaged.resize(damaged.size() / 2);  // a truncated PNG that cannot decode
    p.frontend.push_back(TextureChunk(name(Art::TitleLogo), damaged, 48, 48));
    p.frontend.push_back(std::move(dictionary));
    const RgbaImage logo = PaintArt(Art::TitleLogo);
    p.frontend.push_back(SpriteChunk("Fe_Title_Logo.TGA", uint32_t(logo.w), uint32_t(logo.h), SpriteTiles(logo, 256, 128)));
    return p;
}

std::vector<RcfEntry> SyntheticDefaultRcf(const MenuPackages& packages) {
    std::vector<RcfEntry> entries;
    entries.push_back({"art\\Loading.p3d", BuildPackage({ShaderChunk("loading")})});
    entries.push_back({"package\\B4C85FE7.p3d", BuildPackage(packages.persistent)});
    entries.push_back({"scripts\\frontend.lua", Bytes("-- menu flow\nreturn { start = \"title\" }\n")});
    entries.push_back({"Package\\c1e387c7.P3D", BuildPackage(packages.inGame)});
    entries.push_back({"package\\CDD70A8C.p3d", BuildPackage(packages.frontend)});
    entries.push_back({"world\\l1z1.rsd", Filler(40000, 7)});
    return entries;
}

bool WriteSyntheticDump(const std::filesystem::path& folder, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder / "shaders", ec);
    if (ec) {
        error = "cannot create " + (folder / "shaders").string() + ": " + ec.message();
        return false;
    }
    const auto write = [&](const fs::path& path, const std::vector<uint8_t>& bytes) {
        if (WriteFileBytes(path, bytes)) return true;
        error = "cannot write " + path.string();
        return false;
    };
    const auto archive = [&](const fs::path& path, const std::vector<RcfEntry>& entries) {
        if (WriteRcf(path, entries)) return true;
        error = "cannot write " + path.string();
        return false;
    };
    if (!write(folder / "default.xex", SyntheticXex())) return false;
    if (!archive(folder / "default.rcf", SyntheticDefaultRcf(SyntheticMenuPackages()))) return false;
    if (!archive(folder / "english.rcf",
                 {{"text\\english\\frontend.txt", Bytes("TITLE=Velkor of the Ombrax\nSTART=Begin the journey\n")},
                  {"text\\english\\ingame.txt", Bytes("PAUSE=Paused\nRESUME=Resume\n")}}))
        return false;
    if (!archive(folder / "sound1.rcf", {{"sound\\music\\Theme.rsd", SoundBank(220, 22050)}})) return false;
    if (!archive(folder / "sound2.rcf", {{"sound\\dialog\\Narrator01.rsd", SoundBank(330, 11025)}})) return false;
    if (!write(folder / "shaders" / "frontend.fxo", Filler(4096, 3))) return false;
    if (!write(folder / "shaders" / "world.fxo", Filler(8192, 4))) return false;
    return true;
}

bool WriteDefaultRcf(const std::filesystem::path& folder, GameFontsIn fonts, std::string& error) {
    MenuPackages packages = SyntheticMenuPackages();
    auto& persistent = packages.persistent;
    persistent.erase(std::remove_if(persistent.begin(), persistent.end(),
                                    [](const P3dChunk& c) { return c.id == settings::menu_art::CHUNK_FONT; }),
                     persistent.end());
    if (fonts != GameFontsIn::None) {
        GameFontSet set;
        if (!GameFonts(set, &error)) return false;
        if (fonts == GameFontsIn::Both) persistent.push_back(set.small);
        persistent.push_back(set.large);
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path rcf = folder / "default.rcf";
    if (WriteRcf(rcf, SyntheticDefaultRcf(packages))) return true;
    error = "cannot write " + rcf.string();
    return false;
}

void MountGame(const std::filesystem::path& game) {
    std::string a0 = "VelkorLauncher", a1 = "--game", a2 = game.string();
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    paths::Init(3, argv, false);
    vfs::Config config;
    config.gameRoot = paths::Game();
    config.modsDir = paths::Mods();
    config.userDataDir = paths::UserData();
    vfs::Init(config);
}

} // namespace testsupport
