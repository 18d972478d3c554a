// PNG coding for the game's font pages: decoding through the platform layer
// with the 4096-pixel limit, and an in-memory RGBA or palette encoder with
// stored deflate blocks.
#include "runtime/settings/language_font.h"

#include "runtime/platform/image_posix.h"

#include <algorithm>
#include <climits>
#include <endian.h>
#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Adler-32 of `data` continued from (a, b). Sums are reduced at most every
// 5552 bytes, the longest run whose sums cannot overflow 32 bits.
void Adler32(const uint8_t* data, size_t size, uint32_t& a, uint32_t& b) {
    constexpr uint32_t MOD = 65521;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: for a run of n bytes starting with sums (a, b),
    // b grows by n * a plus each byte weighted by the number of bytes from it
    // to the end of the run, i.e. 16 * (chunks after its own) + (16 - its
    // place in the chunk).
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsLo = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsHi = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    auto sum32 = [](__m128i v) {
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
        return uint32_t(_mm_cvtsi128_si32(v));
    };
    while (size - i >= 16) {
        const size_t chunks = std::min<size_t>((size - i) / 16, 5552 / 16);
        __m128i sums = zero, before = zero, weighted = zero;
        for (size_t c = 0; c < chunks; ++c, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            before = _mm_add_epi32(before, sums);
            sums = _mm_add_epi32(sums, _mm_sad_epu8(bytes, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weightsLo));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weightsHi));
        }
        // Each term below stays under 2^32 for runs of at most 5552 bytes.
        b = (b + uint32_t(chunks * 16 % MOD) * a % MOD + (sum32(before) % MOD) * 16 % MOD + sum32(weighted) % MOD) % MOD;
        a = (a + sum32(sums)) % MOD;
    }
#endif
    while (i < size) {
        const size_t stop = std::min(size, i + 5552);
        for (; i < stop; ++i) {
            a += data[i];
            b += a;
        }
        a %= MOD;
        b %= MOD;
    }
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
    Adler32(raw.data(), raw.size(), a, b);
    AppendBE32(z, b << 16 | a);
}

// The palette as signed entries for the nearest-colour search: alpha from
// trns where it has the entry, else opaque.
struct PaletteEntry {
    int32_t r, g, b, a;
};

std::vector<PaletteEntry> SearchPalette(const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns) {
    std::vector<PaletteEntry> entries;
    if (plte.size() < 3) return entries;
    const size_t count = plte.size() / 3;
    entries.reserve(count);
    for (size_t i = 0; i < count; ++i)
        entries.push_back({plte[i * 3], plte[i * 3 + 1], plte[i * 3 + 2], i < trns.size() ? trns[i] : 255});
    return entries;
}

// The palette entry nearest to a straight RGBA colour; colour differences
// weigh less the more transparent the pixel, alpha differences four times.
// The first entry of the smallest distance wins. Every term fits 32 bits:
// at most 3 * 255^2 * 255 / 255 + 4 * 255^2.
uint8_t NearestEntry(uint32_t colour, const std::vector<PaletteEntry>& palette) {
    if (palette.empty()) return 0;
    const int32_t r = colour & 0xFF, g = colour >> 8 & 0xFF, b = colour >> 16 & 0xFF, a = colour >> 24;
    size_t best = 0;
    int32_t bestDistance = INT32_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
        const PaletteEntry& p = palette[i];
        const int32_t distance =
            ((p.r - r) * (p.r - r) + (p.g - g) * (p.g - g) + (p.b - b) * (p.b - b)) * a / 255 + (p.a - a) * (p.a - a) * 4;
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
    // Palette indices: each distinct colour is searched once (the map), a
    // small direct-mapped table in front of the map answers the repeats, and
    // a run of one colour (a blank sheet is mostly one) skips both.
    std::unordered_map<uint32_t, uint8_t> cache;
    struct Recent {
        uint32_t colour = 0;
        int index = -1;  // -1: empty
    };
    std::vector<Recent> recent(palette ? 1024 : 0);
    const std::vector<PaletteEntry> entries = palette ? SearchPalette(plte, trns) : std::vector<PaletteEntry>();
    uint32_t lastColour = 0;
    int lastIndex = -1;
    for (size_t y = 0; y < h; ++y) {
        uint8_t* out = raw.data() + y * stride;
        *out++ = 0;
        const uint8_t* row = image.rgba.data() + y * w * 4;
        if (!palette) {
            if (w > 0) std::memcpy(out, row, w * 4);
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
#if defined(__SSE2__)
            // Four pixels of the current run at once.
            if (lastIndex >= 0) {
                const __m128i run = _mm_set1_epi32(int32_t(htole32(lastColour)));
                while (x + 4 <= w) {
                    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x * 4));
                    if (_mm_movemask_epi8(_mm_cmpeq_epi32(px, run)) != 0xFFFF) break;
                    std::memset(out + x, lastIndex, 4);
                    x += 4;
                }
                if (x == w) break;
            }
#endif
            uint32_t colour;
            std::memcpy(&colour, row + x * 4, 4);
            colour = le32toh(colour);
            if (colour != lastColour || lastIndex < 0) {
                Recent& slot = recent[((colour * 2654435761u) >> 22) & 1023];
                if (slot.index < 0 || slot.colour != colour) {
                    auto it = cache.find(colour);
                    if (it == cache.end()) it = cache.emplace(colour, NearestEntry(colour, entries)).first;
                    slot.colour = colour;
                    slot.index = it->second;
                }
                lastColour = colour;
                lastIndex = slot.index;
            }
            out[x] = uint8_t(lastIndex);
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
