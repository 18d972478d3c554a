#pragma once
// SHA-256 (FIPS 180-4), used to recognise the supported default.xex.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

struct Sha256 {
    uint32_t h[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                     0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    uint8_t block[64] = {};
    size_t used = 0;    // bytes pending in `block` (0-63 between calls)
    uint64_t total = 0; // bytes fed so far

    void Update(const void* data, size_t size);
    // Finishes the message and returns the digest as 64 lower-case hex digits.
    // The state is spent afterwards.
    std::string Hex();

    // Which block compressor runs: the CPU's SHA instructions when it has them
    // (detected once at run time), else portable code. Tests and benchmarks may
    // force the portable one; forcing the hardware one on a CPU without it is
    // refused.
    enum class Engine { Portable, ShaNi };
    static Engine ActiveEngine();
    static bool HasShaNi();
    static bool UseEngine(Engine engine);

private:
    // Compresses `count` consecutive 64-byte blocks into `h`.
    void Compress(const uint8_t* blocks, size_t count);
    static uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << ((32 - n) & 31)); }
};

// Hex digest of the whole file, or "" when it cannot be opened or read.
std::string Sha256File(const std::filesystem::path& path);
