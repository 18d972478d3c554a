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

const std::array<uint32_t, 256>& CrcTable() {
    // A function-local static is initialised exactly once, also when two
    // threads make their first chunk at the same moment.
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z;
    z.reserve(raw.size() + raw.size() / 65535 * 5 + 11);
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
    return z;
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
        }
    }
    return uint8_t(best);
}

} // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = CrcTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
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
    std::vector<uint8_t> raw;
    raw.reserve(h * (w * (palette ? 1 : 4) + 1));
    std::unordered_map<uint32_t, uint8_t> cache;
    for (size_t y = 0; y < h; ++y) {
        raw.push_back(0);
        const uint8_t* row = image.rgba.data() + y * w * 4;
        if (!palette) {
            raw.insert(raw.end(), row, row + w * 4);
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = row + x * 4;
            const uint32_t colour = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
            auto it = cache.find(colour);
            if (it == cache.end()) it = cache.emplace(colour, NearestEntry(colour, plte, trns)).first;
            raw.push_back(it->second);
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
    WritePngChunk(png, "IDAT", StoredZlib(raw));
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

bool DecodePng(const uint8_t* data, size_t size, int& width, int& height, std::vector<uint8_t>& rgba) {
    // The stated size is checked first, so an oversized page is refused before
    // its pixels are allocated; the result is the same as decoding and refusing.
    int w = 0, h = 0;
    if (!plat::PngDimensions(data, size, w, h) || w > MAX_PAGE_SIDE || h > MAX_PAGE_SIDE) return false;
    std::vector<uint8_t> pixels;
    if (!plat::DecodePng(data, size, w, h, pixels) || w > MAX_PAGE_SIDE || h > MAX_PAGE_SIDE) return false;
    width = w;
    height = h;
    rgba = std::move(pixels);
    return true;
}

} // namespace settings::language_font
