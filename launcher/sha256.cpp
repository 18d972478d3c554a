// SHA-256 of FIPS 180-4. Blocks are compressed with the CPU's SHA instructions
// when it has them and with portable code otherwise; both give the same digest.
#include "launcher/sha256.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VELKOR_SHA_X86 1
#endif

namespace {

constexpr uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
    0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
    0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
    0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
    0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
    0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
    0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u,
};

constexpr size_t READ_BUFFER = 1u << 20;

#ifdef VELKOR_SHA_X86

bool DetectShaNi() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    if (!ssse3 || !sse41) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & (1u << 29)) != 0;
}

// Four rounds with the SHA extensions: `w` holds the next four schedule words
// already added to their round constants.
__attribute__((target("sha,sse4.1"), always_inline)) inline void ShaNiRounds(__m128i& abef, __m128i& cdgh,
                                                                               __m128i w) {
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, w);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(w, 0x0E));
}

// The next four schedule words from the sixteen before them (m0 oldest).
__attribute__((target("sha,sse4.1"), always_inline)) inline __m128i ShaNiSchedule(__m128i m0, __m128i m1,
                                                                                    __m128i m2, __m128i m3) {
    __m128i t = _mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4));
    return _mm_sha256msg2_epu32(t, m3);
}

__attribute__((target("sha,sse4.1"))) void CompressShaNi(uint32_t h[8], const uint8_t* data, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i* k = reinterpret_cast<const __m128i*>(ROUND_CONSTANTS);

    // The instructions keep the state as ABEF and CDGH.
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
    __m128i cdgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(t, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, t, 0xF0);

    for (; count > 0; --count, data += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        const __m128i* in = reinterpret_cast<const __m128i*>(data);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);

        ShaNiRounds(abef, cdgh, _mm_add_epi32(m0, _mm_loadu_si128(k + 0)));
        ShaNiRounds(abef, cdgh, _mm_add_epi32(m1, _mm_loadu_si128(k + 1)));
        ShaNiRounds(abef, cdgh, _mm_add_epi32(m2, _mm_loadu_si128(k + 2)));
        ShaNiRounds(abef, cdgh, _mm_add_epi32(m3, _mm_loadu_si128(k + 3)));
        for (int g = 4; g < 16; g += 4) {
            m0 = ShaNiSchedule(m0, m1, m2, m3);
            ShaNiRounds(abef, cdgh, _mm_add_epi32(m0, _mm_loadu_si128(k + g)));
            m1 = ShaNiSchedule(m1, m2, m3, m0);
            ShaNiRounds(abef, cdgh, _mm_add_epi32(m1, _mm_loadu_si128(k + g + 1)));
            m2 = ShaNiSchedule(m2, m3, m0, m1);
            ShaNiRounds(abef, cdgh, _mm_add_epi32(m2, _mm_loadu_si128(k + g + 2)));
            m3 = ShaNiSchedule(m3, m0, m1, m2);
            ShaNiRounds(abef, cdgh, _mm_add_epi32(m3, _mm_loadu_si128(k + g + 3)));
        }

        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    t = _mm_shuffle_epi32(abef, 0x1B);                       // FEBA
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);                    // DCHG
    abef = _mm_blend_epi16(t, cdgh, 0xF0);                   // DCBA
    cdgh = _mm_alignr_epi8(cdgh, t, 8);                      // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), abef);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), cdgh);
}

#else

bool DetectShaNi() { return false; }

#endif

bool ShaNiPresent() {
    static const bool present = DetectShaNi();
    return present;
}

std::atomic<Sha256::Engine>& EngineChoice() {
    static std::atomic<Sha256::Engine> engine{ShaNiPresent() ? Sha256::Engine::ShaNi
                                                              : Sha256::Engine::Portable};
    return engine;
}

uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

} // namespace

Sha256::Engine Sha256::ActiveEngine() { return EngineChoice().load(std::memory_order_relaxed); }

bool Sha256::HasShaNi() { return ShaNiPresent(); }

bool Sha256::UseEngine(Engine engine) {
    if (engine == Engine::ShaNi && !ShaNiPresent()) return false;
    EngineChoice().store(engine, std::memory_order_relaxed);
    return true;
}

void Sha256::Compress(const uint8_t* blocks, size_t count) {
#ifdef VELKOR_SHA_X86
    if (ActiveEngine() == Engine::ShaNi) {
        CompressShaNi(h, blocks, count);
        return;
    }
#endif
    // One round; the caller rotates the roles of the eight working variables
    // instead of moving their values.
    const auto round = [](uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g,
                          uint32_t& h, uint32_t kw) {
        const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + kw;
        const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
        d += t1;
        h = t1 + t2;
    };
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(blocks + 4 * i);
        // The message schedule, kept as the last sixteen words.
        const auto next = [&w](int i) {
            const uint32_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
            const uint32_t s0 = Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3);
            const uint32_t s1 = Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10);
            return w[i & 15] += s0 + w[(i + 9) & 15] + s1;
        };
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 16; i += 8) {
            round(a, b, c, d, e, f, g, hh, ROUND_CONSTANTS[i] + w[i]);
            round(hh, a, b, c, d, e, f, g, ROUND_CONSTANTS[i + 1] + w[i + 1]);
            round(g, hh, a, b, c, d, e, f, ROUND_CONSTANTS[i + 2] + w[i + 2]);
            round(f, g, hh, a, b, c, d, e, ROUND_CONSTANTS[i + 3] + w[i + 3]);
            round(e, f, g, hh, a, b, c, d, ROUND_CONSTANTS[i + 4] + w[i + 4]);
            round(d, e, f, g, hh, a, b, c, ROUND_CONSTANTS[i + 5] + w[i + 5]);
            round(c, d, e, f, g, hh, a, b, ROUND_CONSTANTS[i + 6] + w[i + 6]);
            round(b, c, d, e, f, g, hh, a, ROUND_CONSTANTS[i + 7] + w[i + 7]);
        }
        for (int i = 16; i < 64; i += 8) {
            round(a, b, c, d, e, f, g, hh, ROUND_CONSTANTS[i] + next(i));
            round(hh, a, b, c, d, e, f, g, ROUND_CONSTANTS[i + 1] + next(i + 1));
            round(g, hh, a, b, c, d, e, f, ROUND_CONSTANTS[i + 2] + next(i + 2));
            round(f, g, hh, a, b, c, d, e, ROUND_CONSTANTS[i + 3] + next(i + 3));
            round(e, f, g, hh, a, b, c, d, ROUND_CONSTANTS[i + 4] + next(i + 4));
            round(d, e, f, g, hh, a, b, c, ROUND_CONSTANTS[i + 5] + next(i + 5));
            round(c, d, e, f, g, hh, a, b, ROUND_CONSTANTS[i + 6] + next(i + 6));
            round(b, c, d, e, f, g, hh, a, ROUND_CONSTANTS[i + 7] + next(i + 7));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
    }
}

void Sha256::Update(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    total += size;
    if (used > 0) {
        const size_t take = size < 64 - used ? size : 64 - used;
        std::memcpy(block + used, p, take);
        used += take;
        p += take;
        size -= take;
        if (used < 64) return;
        Compress(block, 1);
        used = 0;
    }
    // Whole blocks straight from the caller's data, as many as there are.
    if (size >= 64) {
        const size_t count = size / 64;
        Compress(p, count);
        p += count * 64;
        size -= count * 64;
    }
    if (size > 0) {
        std::memcpy(block, p, size);
        used = size;
    }
}

std::string Sha256::Hex() {
    const uint64_t bits = total * 8;
    // 0x80, zeros up to 56 bytes into the block, then the bit count.
    uint8_t pad[64 + 8] = {0x80};
    const size_t zeros = (used < 56 ? 56 - used : 120 - used) - 1;
    Update(pad, 1 + zeros);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = uint8_t(bits >> (56 - 8 * i));
    Update(length, 8);

    char text[65];
    for (int i = 0; i < 8; ++i) std::snprintf(text + 8 * i, 9, "%08x", h[i]);
    return std::string(text, 64);
}

std::string Sha256File(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[READ_BUFFER]);
    if (!buffer) {
        std::fclose(file);
        return {};
    }
    Sha256 state;
    size_t got;
    while ((got = std::fread(buffer.get(), 1, READ_BUFFER, file)) > 0) state.Update(buffer.get(), got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return {};
    return state.Hex();
}
