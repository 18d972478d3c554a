#include "tests/support/rcf_writer.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <numeric>

namespace testsupport {
namespace {

void PutBE(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = uint8_t(v >> 24);
    out[at + 1] = uint8_t(v >> 16);
    out[at + 2] = uint8_t(v >> 8);
    out[at + 3] = uint8_t(v);
}
void AppendLE(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void AppendBE(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t NameHash(const std::string& name) {
    uint32_t h = 2166136261u;  // FNV-1a of the lower-case name
    for (unsigned char c : name) h = (h ^ uint32_t(std::tolower(c))) * 16777619u;
    return h;
}

size_t Align(size_t v, size_t a) { return a > 1 ? (v + a - 1) / a * a : v; }

struct Layout {
    std::vector<uint8_t> head;  // header + directory + name table (+ padding)
    std::vector<size_t> offsets;
};

Layout Plan(const std::vector<RcfEntry>& entries, const RcfOptions& options) {
    Layout l;
    // Name table: 12 unused bytes, then per entry 8 unused bytes, LE32 length,
    // the name with its NUL, and 7 unused bytes.
    std::vector<uint8_t> names(12, 0);
    for (const RcfEntry& e : entries) {
        names.insert(names.end(), 8, 0);
        AppendLE(names, uint32_t(e.name.size() + 1));
        names.insert(names.end(), e.name.begin(), e.name.end());
        names.push_back(0);
        names.insert(names.end(), 7, 0);
    }
    const size_t dirOffset = 0x800;
    const size_t dirSize = entries.size() * 12;
    const size_t namesOffset = Align(dirOffset + dirSize, 16);
    size_t pos = Align(namesOffset + names.size(), std::max<size_t>(options.alignment, 1));
    for (const RcfEntry& e : entries) {
        l.offsets.push_back(pos);
        pos = Align(pos + e.data.size(), std::max<size_t>(options.alignment, 1));
    }

    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    if (options.hashOrderedDirectory)
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return NameHash(entries[a].name) < NameHash(entries[b].name); });
    std::vector<uint8_t> dir;
    for (size_t i : order) {
        AppendBE(dir, NameHash(entries[i].name));
        AppendBE(dir, uint32_t(l.offsets[i]));
        AppendBE(dir, uint32_t(entries[i].data.size()));
    }

    l.head.assign(namesOffset + names.size(), 0);
    static const char MAGIC[] = "ATG CORE CEMENT LIBRARY";
    std::copy(MAGIC, MAGIC + 23, l.head.begin());
    l.head[0x20] = 1;  // format version as the game writes it; not read
    PutBE(l.head, 0x24, uint32_t(dirOffset));
    PutBE(l.head, 0x28, uint32_t(dirSize));
    PutBE(l.head, 0x2C, uint32_t(namesOffset));
    PutBE(l.head, 0x30, uint32_t(names.size()));
    PutBE(l.head, 0x38, uint32_t(entries.size()));
    std::copy(dir.begin(), dir.end(), l.head.begin() + dirOffset);
    std::copy(names.begin(), names.end(), l.head.begin() + namesOffset);
    return l;
}

} // namespace

std::vector<uint8_t> BuildRcf(const std::vector<RcfEntry>& entries, const RcfOptions& options) {
    Layout l = Plan(entries, options);
    std::vector<uint8_t> out = std::move(l.head);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (out.size() < l.offsets[i]) out.resize(l.offsets[i], 0);
        out.insert(out.end(), entries[i].data.begin(), entries[i].data.end());
    }
    return out;
}

bool WriteRcf(const std::filesystem::path& path, const std::vector<RcfEntry>& entries, const RcfOptions& options) {
    const Layout l = Plan(entries, options);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(l.head.data()), std::streamsize(l.head.size()));
    size_t pos = l.head.size();
    const std::vector<char> zeros(std::max<size_t>(options.alignment, 1), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        while (pos < l.offsets[i]) {
            const size_t n = std::min(zeros.size(), l.offsets[i] - pos);
            out.write(zeros.data(), std::streamsize(n));
            pos += n;
        }
        out.write(reinterpret_cast<const char*>(entries[i].data.data()), std::streamsize(entries[i].data.size()));
        pos += entries[i].data.size();
    }
    return bool(out.flush());
}

bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace testsupport
