// PNG coding for the game's font pages: decoding through the platform layer
// with the 4096-pixel limit, and an in-memory RGBA or palette encoder with
// stored deflate blocks.
#include "runtime/settings/language_font.h"

#include "runtime/platform/image_posix.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <endian.h>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace settings::language_font {
namespace {

constexpr int MAX_PAGE_SIDE = 4096;
std::atomic<bool> s_crcClmul{true};  // off only in tests of the table path

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

// The palette as signed entries for the nearest-colour search (alpha from
// trns where it has the entry, else opaque), and for each alpha value the
// entries of that alpha in palette order.
struct SearchPalette {
    struct Entry {
        int32_t r, g, b, a;
    };
    std::vector<Entry> entries;
    std::vector<uint32_t> byAlpha[256];

    SearchPalette(const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns) {
        if (plte.size() < 3) return;
        const size_t count = plte.size() / 3;
        entries.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const int32_t a = i < trns.size() ? trns[i] : 255;
            entries.push_back({plte[i * 3], plte[i * 3 + 1], plte[i * 3 + 2], a});
            byAlpha[a].push_back(uint32_t(i));
        }
    }

    static int32_t Distance(const Entry& p, int32_t r, int32_t g, int32_t b, int32_t a) {
        // At most 3 * 255^2 * 255 / 255 + 4 * 255^2: 32 bits hold every term.
        return ((p.r - r) * (p.r - r) + (p.g - g) * (p.g - g) + (p.b - b) * (p.b - b)) * a / 255 + (p.a - a) * (p.a - a) * 4;
    }

    // The entry nearest to a straight RGBA colour; colour differences weigh
    // less the more transparent the pixel, alpha differences four times. The
    // first entry of the smallest distance wins.
    uint8_t Nearest(uint32_t colour) const {
        if (entries.empty()) return 0;
        const int32_t r = colour & 0xFF, g = colour >> 8 & 0xFF, b = colour >> 16 & 0xFF, a = colour >> 24;
        // A distance of 0 needs the same alpha, so when any entry is at 0 the
        // first of them is among this alpha's entries (those are in order).
        for (uint32_t i : byAlpha[a]) {
            if (i < entries.size() && Distance(entries[i], r, g, b, a) == 0) return uint8_t(i);
        }
        size_t best = 0;
        int32_t bestDistance = INT32_MAX;
        for (size_t i = 0; i < entries.size(); ++i) {
            const int32_t distance = Distance(entries[i], r, g, b, a);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return uint8_t(best);
    }
};

} // namespace

namespace {

// Slicing by eight over the inverted running value.
uint32_t CrcTableRun(const uint8_t* data, size_t size, uint32_t c) {
    const CrcTables& t = CrcTable();
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint8_t* p = data + i;
        const uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
            t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; i < size; ++i) c = t[0][(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__)
// Carry-less multiplication folding (the reflected form of the method in
// Intel's "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ"):
// four 128-bit lanes are folded 512 bits forward per step, then into one
// lane, then reduced to 32 bits with a Barrett step. `size` is a multiple
// of 16 and at least 64; `c` is the inverted running value.
// One lane folded 128 bits forward onto the next.
__attribute__((target("pclmul,sse4.1"), always_inline)) inline __m128i CrcFold(__m128i x, __m128i next, __m128i k) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t CrcClmulRun(const uint8_t* data, size_t size, uint32_t c) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);  // x^(512+32), x^(512-32) mod P
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);  // x^(128+32), x^(128-32) mod P
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);                // x^64 mod P
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);   // Barrett constant, P
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    const auto load = [data](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)); };
    __m128i x1 = _mm_xor_si128(load(0), _mm_cvtsi32_si128(int(c)));
    __m128i x2 = load(16), x3 = load(32), x4 = load(48);
    size_t at = 64;
    for (; at + 64 <= size; at += 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00), x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00), x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k1k2, 0x11), x5), load(at));
        x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k1k2, 0x11), x6), load(at + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k1k2, 0x11), x7), load(at + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k1k2, 0x11), x8), load(at + 48));
    }
    x1 = CrcFold(CrcFold(CrcFold(x1, x2, k3k4), x3, k3k4), x4, k3k4);
    for (; at + 16 <= size; at += 16) x1 = CrcFold(x1, load(at), k3k4);
    // 128 bits to 64, then to 32.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00), _mm_srli_si128(x, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

} // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    uint32_t c = crc ^ 0xFFFFFFFFu;
#if defined(__x86_64__)
    if (size >= 64 && HaveClmul() && s_crcClmul) {
        const size_t folded = size & ~size_t(15);
        c = CrcClmulRun(data, folded, c);
        data += folded;
        size -= folded;
    }
#endif
    return CrcTableRun(data, size, c) ^ 0xFFFFFFFFu;
}

namespace testing {
void SetCrcClmul(bool use) { s_crcClmul = use; }
} // namespace testing

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
    return EncodePng(image, plte, trns, static_cast<EncodedPixels*>(nullptr));
}

namespace {

// Straight RGBA colours to palette indices: each distinct colour is searched
// once (the map), a small direct-mapped table in front of the map answers
// the repeats, and a run of one colour (a blank sheet is mostly one) skips
// both.
class PaletteMap {
public:
    PaletteMap(const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns)
        : entries_(plte, trns), recent_(1024) {}

    uint8_t Index(uint32_t colour) {
        Recent& slot = recent_[((colour * 2654435761u) >> 22) & 1023];
        if (slot.index < 0 || slot.colour != colour) {
            auto it = cache_.find(colour);
            if (it == cache_.end()) it = cache_.emplace(colour, entries_.Nearest(colour)).first;
            slot.colour = colour;
            slot.index = it->second;
        }
        return uint8_t(slot.index);
    }

    // The indices of w straight RGBA pixels.
    void Row(const uint8_t* rgba, size_t w, uint8_t* out) {
        for (size_t x = 0; x < w; ++x) {
#if defined(__SSE2__)
            // Four pixels of the current run at once.
            if (lastIndex_ >= 0) {
                const __m128i run = _mm_set1_epi32(int32_t(htole32(lastColour_)));
                while (x + 4 <= w) {
                    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + x * 4));
                    if (_mm_movemask_epi8(_mm_cmpeq_epi32(px, run)) != 0xFFFF) break;
                    std::memset(out + x, lastIndex_, 4);
                    x += 4;
                }
                if (x == w) break;
            }
#endif
            uint32_t colour;
            std::memcpy(&colour, rgba + x * 4, 4);
            colour = le32toh(colour);
            if (colour != lastColour_ || lastIndex_ < 0) {
                lastColour_ = colour;
                lastIndex_ = Index(colour);
            }
            out[x] = uint8_t(lastIndex_);
        }
    }

private:
    struct Recent {
        uint32_t colour = 0;
        int index = -1;  // -1: empty
    };
    SearchPalette entries_;
    std::unordered_map<uint32_t, uint8_t> cache_;
    std::vector<Recent> recent_;
    uint32_t lastColour_ = 0;
    int lastIndex_ = -1;
};

// The PNG around image data `raw` (rows of a filter byte 0 and the pixels:
// one index each for a palette image, else four bytes); `pixels` (when not
// null) learns what decoding it gives, taking `raw` for a palette image.
std::vector<uint8_t> WrapPng(size_t w, size_t h, std::vector<uint8_t>& raw, const std::vector<uint8_t>& plte,
                             const std::vector<uint8_t>& trns, EncodedPixels* pixels) {
    const bool palette = !plte.empty();
    if (pixels) {
        *pixels = EncodedPixels();
        if (!palette) {
            pixels->known = true;
            pixels->rgba.resize(w * h * 4);
            for (size_t y = 0; y < h; ++y) {
                if (w > 0) std::memcpy(pixels->rgba.data() + y * w * 4, raw.data() + y * (w * 4 + 1) + 1, w * 4);
            }
        } else if (plte.size() % 3 == 0 && plte.size() <= 256 * 3 && trns.size() <= plte.size() / 3) {
            pixels->known = true;
            for (size_t i = 0; i < plte.size() / 3; ++i) {
                pixels->palette[i] = uint32_t(plte[i * 3]) | uint32_t(plte[i * 3 + 1]) << 8 |
                                     uint32_t(plte[i * 3 + 2]) << 16 | uint32_t(i < trns.size() ? trns[i] : 255) << 24;
            }
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
    if (pixels && pixels->known && palette) pixels->raw = std::move(raw);
    const size_t length = png.size() - lengthAt - 8;
    for (int k = 0; k < 4; ++k) png[lengthAt + size_t(k)] = uint8_t(uint32_t(length) >> (24 - 8 * k));
    AppendBE32(png, Crc32(png.data() + lengthAt + 4, length + 4, 0));
    WritePngChunk(png, "IEND", {});
    return png;
}

} // namespace

std::vector<uint8_t> EncodePng(const Image& image, const std::vector<uint8_t>& plte,
                               const std::vector<uint8_t>& trns, EncodedPixels* pixels) {
    const bool palette = !plte.empty();
    const size_t w = size_t(std::max(image.w, 0)), h = size_t(std::max(image.h, 0));
    const size_t stride = w * (palette ? 1 : 4) + 1;
    std::vector<uint8_t> raw(h * stride);
    std::unique_ptr<PaletteMap> map = palette ? std::make_unique<PaletteMap>(plte, trns) : nullptr;
    for (size_t y = 0; y < h; ++y) {
        uint8_t* out = raw.data() + y * stride;
        *out++ = 0;
        const uint8_t* row = image.rgba.data() + y * w * 4;
        if (map) {
            map->Row(row, w, out);
        } else if (w > 0) {
            std::memcpy(out, row, w * 4);
        }
    }
    return WrapPng(w, h, raw, plte, trns, pixels);
}

std::vector<uint8_t> EncodeSheetPng(int width, int height, const std::vector<SheetPiece>& pieces,
                                    const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns,
                                    EncodedPixels* pixels) {
    const bool palette = !plte.empty();
    const size_t w = size_t(std::max(width, 0)), h = size_t(std::max(height, 0));
    const size_t bytes = palette ? 1 : 4, stride = w * bytes + 1;
    std::unique_ptr<PaletteMap> map = palette ? std::make_unique<PaletteMap>(plte, trns) : nullptr;
    // The blank sheet, then each piece in order over it.
    std::vector<uint8_t> raw(h * stride, 0);
    if (map && w > 0) {
        const uint8_t blank = map->Index(0);
        for (size_t y = 0; y < h; ++y) std::memset(raw.data() + y * stride + 1, blank, w);
    }
    for (const SheetPiece& piece : pieces) {
        const Image& cell = *piece.image;
        const int x0 = std::max(piece.x, 0), x1 = std::min<int64_t>(int64_t(piece.x) + cell.w, int64_t(w));
        for (int row = std::max(0, -piece.y); row < cell.h && int64_t(piece.y) + row < int64_t(h); ++row) {
            if (x1 <= x0) break;
            const uint8_t* from = cell.At(x0 - piece.x, row);
            uint8_t* to = raw.data() + size_t(piece.y + row) * stride + 1 + size_t(x0) * bytes;
            if (map) {
                map->Row(from, size_t(x1 - x0), to);
            } else {
                std::memcpy(to, from, size_t(x1 - x0) * 4);
            }
        }
    }
    return WrapPng(w, h, raw, plte, trns, pixels);
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
