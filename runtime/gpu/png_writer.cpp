// RGBA PNG files with stored deflate blocks: signature, IHDR, one IDAT, IEND.
#include "runtime/gpu/png_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace gpu {
namespace {

// Built on first use; a function-local static is initialised exactly once even
// when two threads write their first chunk at the same moment.
const std::array<uint32_t, 256>& CrcTable() {
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

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = CrcTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body) {
    PutBE32(png, uint32_t(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    PutBE32(png, Crc32(png.data() + start, png.size() - start, 0));
}

// zlib header 78 01, stored blocks of at most 65535 bytes, Adler-32.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z;
    z.reserve(raw.size() + raw.size() / 65535 * 5 + 11);
    z.push_back(0x78);
    z.push_back(0x01);
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < raw.size();) {
        // 5552 bytes keep the sums below 2^32 before the modulus.
        const size_t stop = std::min(raw.size(), i + 5552);
        for (; i < stop; ++i) {
            a += raw[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    PutBE32(z, b << 16 | a);
    return z;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, FileCloser> OpenCFile(const std::filesystem::path& path, const char* mode) {
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), mode));
}

} // namespace

bool WritePng(const std::filesystem::path& path, const uint8_t* rgba, uint32_t width, uint32_t height,
              uint32_t pitch) {
    const size_t rowBytes = size_t(width) * 4;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint8_t* row = rgba + size_t(y) * pitch;
        raw.insert(raw.end(), row, row + rowBytes);
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, width);
    PutBE32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", StoredZlib(raw));
    Chunk(png, "IEND", {});

    auto file = OpenCFile(path, "wb");
    if (!file) return false;
    const size_t written = std::fwrite(png.data(), 1, png.size(), file.get());
    // A failed close (data that never reached the disk) also counts as a failure.
    return std::fclose(file.release()) == 0 && written == png.size();
}

} // namespace gpu
