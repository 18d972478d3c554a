// PNG files as the program writes and reads them: exact layouts of the stored
// deflate writers, files checked by pngcheck and decoded by Python's zlib, the
// palette matcher, and our decoders on PNGs made by another encoder.
#include "runtime/gpu/png_writer.h"
#include "runtime/platform/image_posix.h"
#include "runtime/settings/language_font.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>

#include <array>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace lf = settings::language_font;
namespace fs = std::filesystem;

namespace {

uint32_t BE(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

struct PngChunkInfo {
    std::string type;
    size_t offset;  // of the data
    uint32_t length;
};

std::vector<PngChunkInfo> Chunks(const std::vector<uint8_t>& png) {
    std::vector<PngChunkInfo> out;
    for (size_t p = 8; p + 12 <= png.size();) {
        const uint32_t len = BE(png, p);
        out.push_back({std::string(png.begin() + p + 4, png.begin() + p + 8), p + 8, len});
        p += 12 + len;
    }
    return out;
}

lf::Image Pattern(int w, int h, int seed) {
    lf::Image img;
    img.w = w;
    img.h = h;
    img.rgba.resize(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < img.rgba.size(); ++i) img.rgba[i] = uint8_t(i * 31 + seed * 7 + (i >> 7));
    return img;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Parses each PNG with Python's zlib: CRCs, IDAT inflated, filter bytes
// removed; writes the pixel bytes next to it as <file>.raw.
const char* ZLIB_CHECK = R"PY(
import struct, sys, zlib
for path in sys.argv[1:]:
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat, ihdr = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) & 0xffffffff == crc, (path, kind)
        if kind == b'IHDR': ihdr = struct.unpack('>IIBBBBB', body)
        if kind == b'IDAT': idat += body
        pos += 12 + length
    assert pos == len(data), path
    w, h, depth, ctype = ihdr[:4]
    raw = zlib.decompress(idat)
    stride = w * (4 if ctype == 6 else 1)
    assert len(raw) == h * (stride + 1), (path, len(raw))
    out = bytearray()
    for y in range(h):
        row = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        assert row[0] == 0, path
        out += row[1:]
    open(path + '.raw', 'wb').write(bytes(out))
)PY";

class PngFiles : public ::testing::Test {
protected:
    testsupport::TempDir tmp{"art-png"};
    std::vector<fs::path> written;  // every file a writer made, with its expected pixel bytes
    std::vector<std::vector<uint8_t>> expected;

    void Keep(const fs::path& path, std::vector<uint8_t> pixels) {
        written.push_back(path);
        expected.push_back(std::move(pixels));
    }
    void CheckAllWithPngcheckAndZlib() {
        std::string files;
        for (const fs::path& p : written) files += " '" + p.string() + "'";
        EXPECT_EQ(Shell("pngcheck -q" + files + " > '" + (tmp / "pngcheck.log").string() + "' 2>&1"), 0)
            << testsupport::ReadFileBytes(tmp / "pngcheck.log").data();
        ASSERT_TRUE(testsupport::WriteFileBytes(tmp / "check.py", std::vector<uint8_t>(ZLIB_CHECK, ZLIB_CHECK + std::strlen(ZLIB_CHECK))));
        ASSERT_EQ(Shell("python3 '" + (tmp / "check.py").string() + "'" + files), 0);
        for (size_t i = 0; i < written.size(); ++i)
            EXPECT_EQ(testsupport::ReadFileBytes(written[i].string() + ".raw"), expected[i]) << written[i];
    }
};

TEST(PngLayout, ByteExactSizes) {
    struct Case {
        int w, h;
        size_t plte, trns;
        size_t fileSize, idatSize;
    };
    // 1x1 RGBA: raw 5, IDAT 2 + 5 + 5 + 4 = 16, file 8 + 25 + 28 + 12 = 73.
    const Case cases[] = {
        {1, 1, 0, 0, 73, 16},
        {0, 0, 0, 0, 8 + 25 + 23 + 12, 11},        // no raw data: one empty final block
        {3, 2, 0, 0, 8 + 25 + (12 + 11 + 26) + 12, 11 + 26},
        {2, 2, 6, 0, 8 + 25 + 18 + (12 + 11 + 6) + 12, 17},  // palette, no tRNS chunk
        {2, 2, 6, 2, 8 + 25 + 18 + 14 + (12 + 11 + 6) + 12, 17},
        {99, 700, 3, 0, 8 + 25 + 15 + (12 + 2 + 10 + 70000 + 4) + 12, 70016},  // two blocks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " plte " + std::to_string(c.plte));
        const std::vector<uint8_t> plte(c.plte, 0x40), trns(c.trns, 0x80);
        const std::vector<uint8_t> png = lf::EncodePng(Pattern(c.w, c.h, 1), plte, trns);
        EXPECT_EQ(png.size(), c.fileSize);
        const auto chunks = Chunks(png);
        std::vector<std::string> types;
        for (const auto& k : chunks) types.push_back(k.type);
        std::vector<std::string> want = {"IHDR"};
        if (c.plte) want.push_back("PLTE");
        if (c.trns) want.push_back("tRNS");
        want.insert(want.end(), {"IDAT", "IEND"});
        EXPECT_EQ(types, want);
        for (const auto& k : chunks)
            if (k.type == "IDAT") {
                EXPECT_EQ(k.length, c.idatSize);
            }
        EXPECT_EQ(png[8 + 8 + 9], c.plte ? 3 : 6);  // colour type
    }
}

TEST(PngLayout, StoredBlocksOfAtMost65535Bytes) {
    // A 99 x 700 palette image has 700 x 100 = 70000 raw bytes.
    const std::vector<uint8_t> png = lf::EncodePng(Pattern(99, 700, 2), {1, 2, 3, 4, 5, 6}, {});
    const auto idat = Chunks(png)[2];
    ASSERT_EQ(idat.type, "IDAT");
    const uint8_t* z = png.data() + idat.offset;
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);
    EXPECT_EQ(z[2], 0);  // not final
    EXPECT_EQ(z[3] | z[4] << 8, 65535);
    EXPECT_EQ(z[5] | z[6] << 8, 0);  // one's complement
    const uint8_t* second = z + 2 + 5 + 65535;
    EXPECT_EQ(second[0], 1);  // final
    EXPECT_EQ(second[1] | second[2] << 8, 4465);
    EXPECT_EQ((second[3] | second[4] << 8), 0xFFFF ^ 4465);
}

TEST_F(PngFiles, WritersPassPngcheckAndDecodeInPythonZlib) {
    // gpu::WritePng with rows `pitch` bytes apart: the padding is skipped.
    struct Case {
        uint32_t w, h, pitch;
    };
    for (const Case& c : {Case{1, 1, 4}, Case{5, 3, 28}, Case{300, 60, 1200}, Case{129, 130, 1024}}) {
        std::vector<uint8_t> src(size_t(c.pitch) * c.h + 1, 0xCC);
        std::vector<uint8_t> pixels;
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = 0; x < c.w * 4; ++x) {
                const uint8_t v = uint8_t(x * 13 + y * 7);
                src[size_t(y) * c.pitch + x] = v;
                pixels.push_back(v);
            }
        const fs::path path = tmp / ("gpu_" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".png");
        ASSERT_TRUE(gpu::WritePng(path, src.data(), c.w, c.h, c.pitch));
        Keep(path, pixels);
        if (c.w == 1) {
            EXPECT_EQ(fs::file_size(path), 73u);
        }
    }
    // EncodePng, RGBA and palette.
    const lf::Image big = Pattern(200, 120, 3);  // 96120 raw bytes: two blocks
    testsupport::WriteFileBytes(tmp / "lf_rgba.png", lf::EncodePng(big, {}, {}));
    Keep(tmp / "lf_rgba.png", big.rgba);
    lf::Image two = Pattern(4, 2, 0);
    const std::vector<uint8_t> plte = {0, 0, 0, 255, 255, 255}, trns = {0, 255};
    for (int i = 0; i < 8; ++i) {
        uint8_t* p = two.At(i % 4, i / 4);
        p[0] = p[1] = p[2] = (i % 2) ? 250 : 10;
        p[3] = (i % 2) ? 255 : 0;
    }
    testsupport::WriteFileBytes(tmp / "lf_palette.png", lf::EncodePng(two, plte, trns));
    Keep(tmp / "lf_palette.png", {0, 1, 0, 1, 0, 1, 0, 1});
    lf::Image tall = Pattern(99, 700, 4);
    // Runs of one colour of every length from 1 to 40, crossing row ends.
    for (size_t i = 0, run = 1, k = 0; i < tall.rgba.size() / 2; run = run % 40 + 1, ++k) {
        for (size_t n = 0; n < run && i < tall.rgba.size() / 2; ++n, i += 4) {
            const uint8_t v = uint8_t(k * 37);
            tall.rgba[i] = tall.rgba[i + 1] = tall.rgba[i + 2] = v;
            tall.rgba[i + 3] = uint8_t(k % 3 == 0 ? 0 : 255 - k % 7);
        }
    }
    std::vector<uint8_t> grey(256 * 3);
    for (int i = 0; i < 256 * 3; ++i) grey[i] = uint8_t(i / 3);
    const std::vector<uint8_t> tallPng = lf::EncodePng(tall, grey, {});
    testsupport::WriteFileBytes(tmp / "lf_palette_tall.png", tallPng);
    // Opaque grey palette: each pixel maps to the grey nearest in colour and alpha.
    std::vector<uint8_t> idx;
    for (size_t i = 0; i < tall.rgba.size(); i += 4) {
        int best = 0;
        int64_t bestD = INT64_MAX;
        for (int g = 0; g < 256; ++g) {
            const int64_t a = tall.rgba[i + 3];
            int64_t d = 0;
            for (int c = 0; c < 3; ++c) d += (g - tall.rgba[i + c]) * (g - tall.rgba[i + c]);
            d = d * a / 255 + (255 - a) * (255 - a) * 4;
            if (d < bestD) bestD = d, best = g;
        }
        idx.push_back(uint8_t(best));
    }
    Keep(tmp / "lf_palette_tall.png", idx);
    CheckAllWithPngcheckAndZlib();
}

TEST(PngWriter, UnwritablePathFails) {
    const uint8_t px[4] = {1, 2, 3, 4};
    testsupport::TempDir tmp("art-png");
    testsupport::WriteFileBytes(tmp / "file", {1});
    EXPECT_FALSE(gpu::WritePng(tmp / "file" / "x.png", px, 1, 1, 4));  // a file as parent folder
}

// The palette index chosen for each pixel of a one-row image, read straight
// from the stored deflate block.
std::vector<uint8_t> Indices(const lf::Image& img, const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns) {
    const std::vector<uint8_t> png = lf::EncodePng(img, plte, trns);
    for (const auto& c : Chunks(png))
        if (c.type == "IDAT") {
            const uint8_t* raw = png.data() + c.offset + 2 + 5;
            EXPECT_EQ(raw[0], 0);  // filter byte
            return std::vector<uint8_t>(raw + 1, raw + 1 + img.w);
        }
    return {};
}

lf::Image Pixels(std::initializer_list<std::array<uint8_t, 4>> px) {
    lf::Image img;
    img.w = int(px.size());
    img.h = 1;
    for (const auto& p : px) img.rgba.insert(img.rgba.end(), p.begin(), p.end());
    return img;
}

TEST(PngPalette, NearestEntryWithPartialTransparencyTable) {
    // Entry 0 black, entry 1 white, entry 2 red; tRNS gives entries 0 and 1 alpha.
    const std::vector<uint8_t> plte = {0, 0, 0, 255, 255, 255, 255, 0, 0};
    const lf::Image img =
        Pixels({{0, 0, 0, 0}, {250, 250, 250, 255}, {255, 10, 10, 255}, {255, 0, 0, 0}, {128, 128, 128, 128}});
    // Entry 0 is transparent, entry 1 half, entry 2 opaque (no tRNS byte). The
    // near-white pixel prefers half-transparent white (alpha off by 127, x4)
    // over opaque red (colour far off); transparent pixels take entry 0.
    EXPECT_EQ(Indices(img, plte, {0, 128}), (std::vector<uint8_t>{0, 1, 2, 0, 1}));
    // Without tRNS every entry is opaque: a transparent pixel is equally far
    // from all of them and takes the first.
    EXPECT_EQ(Indices(img, plte, {}), (std::vector<uint8_t>{0, 1, 2, 0, 1}));
    const std::vector<uint8_t> noTrns = lf::EncodePng(img, plte, {});
    EXPECT_TRUE(lf::PngChunk(noTrns.data(), noTrns.size(), "tRNS").empty());
    EXPECT_EQ(lf::PngChunk(noTrns.data(), noTrns.size(), "PLTE"), plte);

    // Two entries and three tRNS bytes: only the first two count; the third is written as given.
    const std::vector<uint8_t> two = {10, 10, 10, 200, 200, 200};
    const lf::Image t = Pixels({{12, 12, 12, 0}, {200, 200, 200, 0}, {200, 200, 200, 255}});
    EXPECT_EQ(Indices(t, two, {255, 0, 0}), (std::vector<uint8_t>{1, 1, 0}));
    const std::vector<uint8_t> png = lf::EncodePng(t, two, {255, 0, 0});
    EXPECT_EQ(lf::PngChunk(png.data(), png.size(), "tRNS"), (std::vector<uint8_t>{255, 0, 0}));
}

TEST(PngPalette, NearestEntryMatchesItsDefinitionAndTheDecodedPixelsAreKnown) {
    // Palettes with repeated entries and few alpha values, so that exact
    // matches, near ties and several entries at distance 0 all occur.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const size_t count = 1 + rng() % 60;
        std::vector<uint8_t> plte, trns;
        for (size_t i = 0; i < count; ++i) {
            for (int c = 0; c < 3; ++c) plte.push_back(uint8_t(rng() % 4 * 85));
            if (i < count - round % 3) trns.push_back(uint8_t(rng() % 3 * 127));
        }
        lf::Image img;
        img.w = 64;
        img.h = 9;
        for (int i = 0; i < img.w * img.h; ++i) {
            const size_t e = rng() % count;
            const bool exact = rng() % 2;
            for (int c = 0; c < 3; ++c) img.rgba.push_back(exact ? plte[e * 3 + c] : uint8_t(rng() % 256));
            img.rgba.push_back(exact ? (e < trns.size() ? trns[e] : 255) : uint8_t(rng() % 3 == 0 ? rng() % 256 : rng() % 3 * 127));
        }
        lf::EncodedPixels known;
        const std::vector<uint8_t> png = lf::EncodePng(img, plte, trns, &known);
        ASSERT_TRUE(known.known);
        for (int i = 0; i < img.w * img.h; ++i) {
            const uint8_t* p = img.rgba.data() + i * 4;
            int64_t bestD = INT64_MAX;
            size_t best = 0;
            for (size_t e = 0; e < count; ++e) {
                const int64_t a = p[3], pa = e < trns.size() ? trns[e] : 255;
                int64_t d = 0;
                for (int c = 0; c < 3; ++c) d += (int64_t(plte[e * 3 + c]) - p[c]) * (int64_t(plte[e * 3 + c]) - p[c]);
                d = d * a / 255 + (pa - a) * (pa - a) * 4;
                if (d < bestD) bestD = d, best = e;
            }
            ASSERT_EQ(known.raw[size_t(i / img.w) * (img.w + 1) + 1 + size_t(i % img.w)], best) << "round " << round << " pixel " << i;
        }
        // The pixels it says a decoder gives are the ones stb gives.
        int w = 0, h = 0;
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(lf::DecodePng(png.data(), png.size(), w, h, decoded));
        for (int i = 0; i < w * h; ++i) {
            const uint32_t entry = known.palette[known.raw[size_t(i / w) * (w + 1) + 1 + size_t(i % w)]];
            for (int c = 0; c < 4; ++c) ASSERT_EQ(decoded[size_t(i) * 4 + c], uint8_t(entry >> (8 * c))) << "pixel " << i;
        }
    }
    // Palettes a decoder may refuse leave the pixels unknown.
    lf::EncodedPixels known;
    lf::EncodePng(Pattern(3, 3, 1), {1, 2, 3, 4}, {}, &known);
    EXPECT_FALSE(known.known);
    lf::EncodePng(Pattern(3, 3, 1), {1, 2, 3}, {5, 6}, &known);
    EXPECT_FALSE(known.known);
    lf::EncodePng(Pattern(3, 3, 1), {}, {}, &known);
    EXPECT_TRUE(known.known);
    EXPECT_EQ(known.rgba, Pattern(3, 3, 1).rgba);
}

TEST(PngPalette, SheetEncodingEqualsEncodingTheBuiltSheet) {
    // Pieces overlapping each other and crossing every edge of the sheet,
    // in palette and RGBA form.
    std::vector<uint8_t> grey(256 * 3), alpha(256);
    for (int i = 0; i < 256; ++i) {
        grey[size_t(i) * 3] = grey[size_t(i) * 3 + 1] = grey[size_t(i) * 3 + 2] = uint8_t(i);
        alpha[size_t(i)] = uint8_t(i);
    }
    const lf::Image a = Pattern(20, 12, 1), b = Pattern(7, 30, 2), c = Pattern(50, 3, 3);
    const std::vector<lf::SheetPiece> pieces = {{3, 2, &a}, {15, 5, &b}, {-4, 20, &c}, {30, -2, &a}, {35, 28, &b}};
    lf::Image sheet;
    sheet.w = 41;
    sheet.h = 33;
    sheet.rgba.assign(size_t(sheet.w) * sheet.h * 4, 0);
    for (const lf::SheetPiece& piece : pieces) {
        for (int y = 0; y < piece.image->h; ++y)
            for (int x = 0; x < piece.image->w; ++x) {
                const int tx = piece.x + x, ty = piece.y + y;
                if (tx >= 0 && ty >= 0 && tx < sheet.w && ty < sheet.h) std::memcpy(sheet.At(tx, ty), piece.image->At(x, y), 4);
            }
    }
    for (const auto& [plte, trns] : {std::pair{grey, alpha}, std::pair{grey, std::vector<uint8_t>{}},
                                     std::pair{std::vector<uint8_t>{}, std::vector<uint8_t>{}}}) {
        lf::EncodedPixels fromSheet, fromPieces;
        EXPECT_EQ(lf::EncodeSheetPng(sheet.w, sheet.h, pieces, plte, trns, &fromPieces),
                  lf::EncodePng(sheet, plte, trns, &fromSheet));
        EXPECT_EQ(fromPieces.raw, fromSheet.raw);
        EXPECT_EQ(fromPieces.rgba, fromSheet.rgba);
    }
}

TEST(PngChunkLookup, FindsFirstChunkAndStopsAtTruncation) {
    const std::vector<uint8_t> png = lf::EncodePng(Pattern(2, 2, 0), {1, 2, 3}, {9});
    EXPECT_EQ(lf::PngChunk(png.data(), png.size(), "tRNS"), std::vector<uint8_t>{9});
    EXPECT_EQ(lf::PngChunk(png.data(), png.size(), "IEND"), std::vector<uint8_t>{});
    EXPECT_EQ(lf::PngChunk(png.data(), png.size(), "IHDR").size(), 13u);
    // Cut inside the tRNS chunk: it and everything after are not found.
    EXPECT_TRUE(lf::PngChunk(png.data(), 8 + 25 + 15 + 5, "tRNS").empty());
    EXPECT_EQ(lf::PngChunk(png.data(), 8 + 25 + 15 + 5, "PLTE").size(), 3u);
    EXPECT_TRUE(lf::PngChunk(png.data(), 7, "IHDR").empty());
}

TEST(PngCrc, KnownValuesAndChaining) {
    const uint8_t text[] = "123456789";
    EXPECT_EQ(lf::Crc32(text, 9, 0), 0xCBF43926u);
    EXPECT_EQ(lf::Crc32(text + 4, 5, lf::Crc32(text, 4, 0)), 0xCBF43926u);
    std::vector<uint8_t> out;
    lf::AppendBE32(out, 0x01020304);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4}));
    std::vector<uint8_t> chunk;
    lf::WritePngChunk(chunk, "IEND", {});
    EXPECT_EQ(chunk, (std::vector<uint8_t>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));
}

TEST(PngCrc, FirstUseFromManyThreadsGivesTheSameFiles) {
    // Both writers build their CRC table on first use; threads race for it here.
    testsupport::TempDir tmp("art-png");
    const lf::Image img = Pattern(17, 9, 5);
    std::vector<std::vector<uint8_t>> encoded(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            encoded[i] = lf::EncodePng(img, {}, {});
            gpu::WritePng(tmp / ("t" + std::to_string(i) + ".png"), img.rgba.data(), 17, 9, 17 * 4);
        });
    for (auto& t : threads) t.join();
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(encoded[i], encoded[0]);
        EXPECT_EQ(testsupport::ReadFileBytes(tmp / ("t" + std::to_string(i) + ".png")), encoded[0]);
    }
}

// PNGs from another encoder (Python zlib, with filters and interlacing) and
// the RGBA bytes stb_image must produce for them.
const char* FOREIGN = R"PY(
import struct, sys, zlib
out = sys.argv[1]
def chunk(t, b): return struct.pack('>I', len(b)) + t + b + struct.pack('>I', zlib.crc32(t + b) & 0xffffffff)
def png(name, w, h, depth, ctype, rows, interlace=0, extra=b''):
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, interlace))
    data += extra + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')
    open(out + '/' + name + '.png', 'wb').write(data)
def sub(row, bpp):  # filter type 1
    return bytes([1]) + bytes((row[i] - (row[i - bpp] if i >= bpp else 0)) & 255 for i in range(len(row)))
w, h = 7, 5
# 8-bit grey with Sub filters
grey = [[(x * 37 + y * 11) & 255 for x in range(w)] for y in range(h)]
png('grey8', w, h, 8, 0, b''.join(sub(bytes(r), 1) for r in grey))
open(out + '/grey8.rgba', 'wb').write(bytes(v for r in grey for g in r for v in (g, g, g, 255)))
# grey + alpha, 8-bit
ga = [[((x * 50) & 255, (y * 60 + x) & 255) for x in range(w)] for y in range(h)]
png('greyalpha', w, h, 8, 4, b''.join(b'\0' + bytes(v for p in r for v in p) for r in ga))
open(out + '/greyalpha.rgba', 'wb').write(bytes(v for r in ga for g, a in r for v in (g, g, g, a)))
# palette with a partial tRNS, 4-bit indices
pal = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (250, 200, 40)]
trns = bytes([0, 128])
idx = [[(x + y) % 4 for x in range(w)] for y in range(h)]
def pack4(r): return bytes(((r[i] << 4) | (r[i + 1] if i + 1 < len(r) else 0)) for i in range(0, len(r), 2))
png('palette4', w, h, 4, 3, b''.join(b'\0' + pack4(r) for r in idx),
    extra=chunk(b'PLTE', bytes(v for p in pal for v in p)) + chunk(b'tRNS', trns))
open(out + '/palette4.rgba', 'wb').write(bytes(v for r in idx for i in r for v in (*pal[i], trns[i] if i < len(trns) else 255)))
# 16-bit RGBA: stb keeps the high byte
px16 = [[((x * 9000) & 65535, (y * 12000) & 65535, 0x1234, 0xFF00 | x) for x in range(w)] for y in range(h)]
png('rgba16', w, h, 16, 6, b''.join(b'\0' + b''.join(struct.pack('>4H', *p) for p in r) for r in px16))
open(out + '/rgba16.rgba', 'wb').write(bytes(v >> 8 for r in px16 for p in r for v in p))
# interlaced (Adam7) 8-bit RGB, 11 x 9
w, h = 11, 9
rgb = [[((x * 23) & 255, (y * 29) & 255, (x * y) & 255) for x in range(w)] for y in range(h)]
passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
raw = b''
for x0, y0, dx, dy in passes:
    for y in range(y0, h, dy):
        row = bytes(v for x in range(x0, w, dx) for v in rgb[y][x])
        if row: raw += b'\0' + row
png('interlaced', w, h, 8, 2, raw, interlace=1)
open(out + '/interlaced.rgba', 'wb').write(bytes(v for r in rgb for p in r for v in (*p, 255)))
)PY";

TEST(PngDecode, ReadsPngsOfAnotherEncoder) {
    testsupport::TempDir tmp("art-png");
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / "foreign.py", std::vector<uint8_t>(FOREIGN, FOREIGN + std::strlen(FOREIGN))));
    ASSERT_EQ(Shell("python3 '" + (tmp / "foreign.py").string() + "' '" + tmp.path().string() + "'"), 0);
    struct Case {
        const char* name;
        int w, h;
    };
    for (const Case& c : {Case{"grey8", 7, 5}, Case{"greyalpha", 7, 5}, Case{"palette4", 7, 5}, Case{"rgba16", 7, 5},
                          Case{"interlaced", 11, 9}}) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> png = testsupport::ReadFileBytes(tmp / (std::string(c.name) + ".png"));
        const std::vector<uint8_t> want = testsupport::ReadFileBytes(tmp / (std::string(c.name) + ".rgba"));
        ASSERT_FALSE(png.empty());
        int w = 0, h = 0;
        std::vector<uint8_t> rgba;
        ASSERT_TRUE(plat::DecodePng(png.data(), png.size(), w, h, rgba));
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_EQ(rgba, want);
        int w2 = 0, h2 = 0;
        std::vector<uint8_t> rgba2;
        ASSERT_TRUE(lf::DecodePng(png.data(), png.size(), w2, h2, rgba2));
        EXPECT_EQ(rgba2, want);
    }
}

TEST(PngDecode, LimitsAndFailuresLeaveOutputsAlone) {
    const std::vector<uint8_t> wide = lf::EncodePng(Pattern(4097, 16, 0), {}, {});
    const std::vector<uint8_t> edge = lf::EncodePng(Pattern(4096, 2, 0), {}, {});
    std::vector<uint8_t> cut = lf::EncodePng(Pattern(8, 8, 0), {}, {});
    cut.resize(cut.size() - 40);
    const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};

    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(plat::DecodePng(wide.data(), wide.size(), w, h, rgba));  // the platform decoder has no limit
    EXPECT_EQ(w, 4097);
    EXPECT_TRUE(lf::DecodePng(edge.data(), edge.size(), w, h, rgba));
    EXPECT_EQ(w, 4096);

    struct Case {
        const char* what;
        const std::vector<uint8_t>* png;
        bool platOk;
    };
    for (const Case& c : {Case{"4097 wide", &wide, true}, Case{"truncated", &cut, false}, Case{"not a png", &junk, false}}) {
        SCOPED_TRACE(c.what);
        int ow = -7, oh = -9;
        std::vector<uint8_t> out = {42};
        EXPECT_FALSE(lf::DecodePng(c.png->data(), c.png->size(), ow, oh, out));
        EXPECT_EQ(ow, -7);
        EXPECT_EQ(oh, -9);
        EXPECT_EQ(out, std::vector<uint8_t>{42});
        if (!c.platOk) {
            EXPECT_FALSE(plat::DecodePng(c.png->data(), c.png->size(), ow, oh, out));
            EXPECT_EQ(out, std::vector<uint8_t>{42});
            EXPECT_EQ(ow, -7);
        }
    }
}

TEST(PngDecode, ChunkFramingDecidesBeforeDecoding) {
    const std::vector<uint8_t> good = lf::EncodePng(Pattern(3, 2, 6), {}, {});
    const std::vector<uint8_t> ihdr(good.begin(), good.begin() + 33);
    std::vector<uint8_t> iend;
    lf::WritePngChunk(iend, "IEND", {});
    struct Case {
        const char* what;
        std::vector<uint8_t> png;
        bool decodes;
    };
    std::vector<Case> cases;
    {
        // A chunk stating a gigabyte that is not there: refused before stb
        // would grow its buffer to the stated size.
        std::vector<uint8_t> b = ihdr;
        lf::AppendBE32(b, 0x3FFFFFF0u);
        b.insert(b.end(), {'I', 'D', 'A', 'T', 0x78, 0x01});
        cases.push_back({"oversized IDAT", b, false});
    }
    {
        // An empty first IDAT (stb copies zero bytes from a null buffer) decodes.
        std::vector<uint8_t> b = ihdr;
        lf::WritePngChunk(b, "IDAT", {});
        const auto rest = lf::PngChunk(good.data(), good.size(), "IDAT");
        lf::WritePngChunk(b, "IDAT", rest);
        b.insert(b.end(), iend.begin(), iend.end());
        cases.push_back({"empty first IDAT", b, true});
    }
    {
        std::vector<uint8_t> b(good.begin(), good.end() - 4);  // IEND without its CRC
        cases.push_back({"IEND without CRC", b, true});
        b = good;
        b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF, 'j', 'u', 'n', 'k'});  // stated past the end, after IEND
        cases.push_back({"trailing bytes after IEND", b, true});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int w = 0, h = 0;
        std::vector<uint8_t> rgba;
        EXPECT_EQ(plat::DecodePng(c.png.data(), c.png.size(), w, h, rgba), c.decodes);
        if (c.decodes) {
            EXPECT_EQ(rgba, Pattern(3, 2, 6).rgba);
        }
    }
}

} // namespace
