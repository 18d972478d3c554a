// PNG coding for the game's font pages: decoding through the platform layer
// with the 4096-pixel limit, and an in-memory RGBA or palette encoder with
// stored deflate blocks.
#include "runtime/settings/language_font.h"

#include "runtime/platform/image_posix.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace settings::language_font {
namespace {

constexpr int MAX_PAGE_SIDE = 4096;

// CRC tables for eight bytes at a time ("slicing by 8"): table 0 is the
// byte-wise table, table k advances a byte's CRC through k more zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

const CrcTables& CrcTable() {
    // A function-local static is initialised exactly once, also when two
    // threads make their first chunk at the same moment.
    static const CrcTables tables = [] {
        CrcTables t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (size_t k = 1; k < 8; ++k) {
            for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
        }
        return t;
    }();
    return tables;
}

// Appends raw data as a zlib stream of stored (uncompressed) deflate blocks.
void AppendStoredZlib(std::vector<uint8_t>& z, const std::vector<uint8_t>& raw) {
    z.reserve(z.size() + raw.size() + (raw.size() / 65535 + 1) * 5 + 6);
    z.push_back(0x78);
    z.push_back(0x01);
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < raw.size();) {
        const size_t stop = std::min(raw.size(), i + 5552);
        for (; i < stop; ++i) {
            a += raw[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    AppendBE32(z, b << 16 | a);
}

// The palette entry nearest to a straight RGBA colour; colour differences
// weigh less the more transparent the pixel, alpha differences four times.
uint8_t NearestEntry(uint32_t colour, const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns) {
    if (plte.size() < 3) return 0;
    const int64_t r = colour & 0xFF, g = colour >> 8 & 0xFF, b = colour >> 16 & 0xFF, a = colour >> 24;
    const size_t count = std::max<size_t>(plte.size() / 3, 1);
    size_t best = 0;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (size_t i = 0; i < count; ++i) {
        const int64_t pr = plte[i * 3], pg = plte[i * 3 + 1], pb = plte[i * 3 + 2];
        const int64_t pa = i < trns.size() ? trns[i] : 255;
        const int64_t distance =
            ((pr - r) * (pr - r) + (pg - g) * (pg - g) + (pb - b) * (pb - b)) * a / 255 + (pa - a) * (pa - a) * 4;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0) break;  // no later entry can be nearer
        }
    }
    return uint8_t(best);
}

} // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const CrcTables& t = CrcTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint8_t* p = data + i;
        const uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
            t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; i < size; ++i) c = t[0][(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void AppendBE32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void WritePngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body) {
    AppendBE32(png, uint32_t(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    AppendBE32(png, Crc32(png.data() + start, png.size() - start, 0));
}

std::vector<uint8_t> EncodePng(const Image& image, const std::vector<uint8_t>& plte,
                               const std::vector<uint8_t>& trns) {
    const bool palette = !plte.empty();
    const size_t w = size_t(std::max(image.w, 0)), h = size_t(std::max(image.h, 0));
    const size_t stride = w * (palette ? 1 : 4) + 1;
    std::vector<uint8_t> raw(h * stride);
    // Palette indices: each distinct colour is searched once (the map), and a
    // small direct-mapped table in front of the map answers the repeats.
    std::unordered_map<uint32_t, uint8_t> cache;
    struct Recent {
        uint32_t colour = 0;
        int index = -1;  // -1: empty
    };
    std::vector<Recent> recent(palette ? 1024 : 0);
    for (size_t y = 0; y < h; ++y) {
        uint8_t* out = raw.data() + y * stride;
        *out++ = 0;
        const uint8_t* row = image.rgba.data() + y * w * 4;
        if (!palette) {
            if (w > 0) std::memcpy(out, row, w * 4);
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = row + x * 4;
            const uint32_t colour = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
            Recent& slot = recent[((colour * 2654435761u) >> 22) & 1023];
            if (slot.index < 0 || slot.colour != colour) {
                auto it = cache.find(colour);
                if (it == cache.end()) it = cache.emplace(colour, NearestEntry(colour, plte, trns)).first;
                slot.colour = colour;
                slot.index = it->second;
            }
            out[x] = uint8_t(slot.index);
        }
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    AppendBE32(ihdr, uint32_t(w));
    AppendBE32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, uint8_t(palette ? 3 : 6), 0, 0, 0});
    WritePngChunk(png, "IHDR", ihdr);
    if (palette) {
        WritePngChunk(png, "PLTE", plte);
        if (!trns.empty()) WritePngChunk(png, "tRNS", trns);
    }
    // The IDAT chunk is built in place: the zlib stream goes straight into
    // the file, then its length and CRC are filled in.
    const size_t lengthAt = png.size();
    AppendBE32(png, 0);
    const char* idat = "IDAT";
    png.insert(png.end(), idat, idat + 4);
    AppendStoredZlib(png, raw);
    const size_t length = png.size() - lengthAt - 8;
    for (int k = 0; k < 4; ++k) png[lengthAt + size_t(k)] = uint8_t(uint32_t(length) >> (24 - 8 * k));
    AppendBE32(png, Crc32(png.data() + lengthAt + 4, length + 4, 0));
    WritePngChunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> PngChunk(const uint8_t* png, size_t size, const char* type) {
    size_t pos = 8;
    while (pos + 12 <= size) {
        const size_t length = size_t(png[pos]) << 24 | size_t(png[pos + 1]) << 16 | size_t(png[pos + 2]) << 8 |
                              size_t(png[pos + 3]);
        if (pos + length + 12 > size) break;
        if (std::memcmp(png + pos + 4, type, 4) == 0)
            return std::vector<uint8_t>(png + pos + 8, png + pos + 8 + length);
        pos += length + 12;
    }
    return {};
}

void PngPixelsFree::operator()(uint8_t* pixels) const { plat::FreePngPixels(pixels); }

PngPixels DecodePngBuffer(const uint8_t* data, size_t size, int& width, int& height) {
    // The stated size is checked first, so an oversized page is refused before
    // its pixels are allocated; the result is the same as decoding and refusing.
    int w = 0, h = 0;
    if (!plat::PngDimensions(data, size, w, h) || w > MAX_PAGE_SIDE || h > MAX_PAGE_SIDE) return nullptr;
    PngPixels pixels(plat::DecodePngBuffer(data, size, w, h));
    if (!pixels || w > MAX_PAGE_SIDE || h > MAX_PAGE_SIDE) return nullptr;
    width = w;
    height = h;
    return pixels;
}

bool DecodePngPixels(const uint8_t* data, size_t size,
                     const std::function<void(const uint8_t* rgba, int width, int height)>& take) {
    int w = 0, h = 0;
    const PngPixels pixels = DecodePngBuffer(data, size, w, h);
    if (!pixels) return false;
    take(pixels.get(), w, h);
    return true;
}

bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba) {
    return DecodePngPixels(data, size, [&](const uint8_t* pixels, int w, int h) {
        rgba.assign(pixels, pixels + size_t(w) * size_t(h) * 4);
        width = w;
        height = h;
    });
}

} // namespace settings::language_font
