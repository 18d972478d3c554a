// The RCF ("ATG CORE CEMENT LIBRARY") archive reader: header, directory and
// name table are indexed; entries are read with single positioned reads, or
// from a mod's loose file when one overrides them.
#include "runtime/fs/vfs.h"
#include "runtime/settings/menu_art_internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <system_error>

namespace settings::menu_art {
namespace {

constexpr size_t DIR_RECORD = 12;
constexpr size_t NAMES_SKIP = 12;      // bytes before the first name record
constexpr size_t NAME_HEAD = 12;       // 8 unused bytes, then the LE32 length
constexpr size_t NAME_TAIL = 7;        // unused bytes after each name

bool ReadWholeFile(const std::filesystem::path& path, std::vector<unsigned char>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        data.clear();
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool IndexArchive(Rcf& rcf);

} // namespace

float LEF(const uint8_t* p) {
    const uint32_t bits = LE32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ReadAt(const plat::File& file, uint64_t offset, void* data, uint32_t size) {
    return file.ReadExactAt(offset, data, size);
}

bool OpenRcfFile(Rcf& rcf, const std::filesystem::path& host) {
    rcf.entries.clear();
    if (!rcf.file.Open(host, false, plat::FileDisposition::OpenExisting, nullptr)) return false;
    if (IndexArchive(rcf)) return true;
    rcf.file.Close();
    rcf.entries.clear();
    return false;
}

bool OpenRcf(Rcf& rcf) {
    rcf.entries.clear();
    const auto guest = vfs::Parse("D:\\default.rcf", nullptr);
    if (!guest) return false;
    const auto location = vfs::Locate(*guest);
    if (!location) return false;
    return OpenRcfFile(rcf, location->host);
}

namespace {

// Header, directory and name table of the open archive into its index.
bool IndexArchive(Rcf& rcf) {
    uint8_t header[RCF_HEADER_SIZE];
    if (!ReadAt(rcf.file, 0, header, sizeof header)) return false;
    if (std::memcmp(header, RCF_MAGIC, 23) != 0) return false;
    const uint64_t dirOffset = BE32(header + 0x24);
    const uint64_t namesOffset = BE32(header + 0x2C);
    const uint32_t namesSize = BE32(header + 0x30);
    const uint32_t count = BE32(header + 0x38);

    // A directory or name table that cannot lie inside the file would fail its
    // read anyway; refusing it first keeps a corrupt count from allocating gigabytes.
    const uint64_t fileSize = rcf.file.Size();
    const uint64_t dirBytes = uint64_t(count) * DIR_RECORD;
    if (dirOffset + dirBytes > fileSize || namesOffset + namesSize > fileSize) return false;

    std::vector<uint8_t> dir(dirBytes);
    if (!rcf.file.ReadExactAt(dirOffset, dir.data(), dir.size())) return false;
    std::vector<uint8_t> names(namesSize);
    if (!ReadAt(rcf.file, namesOffset, names.data(), namesSize)) return false;

    std::vector<std::pair<uint32_t, uint32_t>> ranges(count);
    for (uint32_t i = 0; i < count; ++i)
        ranges[i] = {BE32(dir.data() + i * DIR_RECORD + 4), BE32(dir.data() + i * DIR_RECORD + 8)};
    std::sort(ranges.begin(), ranges.end());

    // Names carry no offsets: the i-th name belongs to the i-th range in offset order.
    size_t c = NAMES_SKIP;
    for (uint32_t i = 0; i < count; ++i) {
        if (c + NAME_HEAD > namesSize) break;
        const size_t length = LE32(names.data() + c + 8);
        if (c + NAME_HEAD + length > namesSize) break;
        const char* text = reinterpret_cast<const char*>(names.data() + c + NAME_HEAD);
        const size_t n = strnlen(text, length);
        rcf.entries[Lower(std::string_view(text, n))] = ranges[i];
        c += NAME_HEAD + length + NAME_TAIL;
    }
    return true;
}

} // namespace

bool ReadEntry(Rcf& rcf, const std::string& entry, std::vector<unsigned char>& data, std::string& source) {
    for (const vfs::ModInfo& mod : vfs::Mods()) {
        // The entry name, backslash included, is one path element.
        const std::filesystem::path loose = mod.root / "rcf" / "default" / entry;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(loose, ec)) continue;
        source = "mod " + mod.name;
        return ReadWholeFile(loose, data) && !data.empty();
    }
    if (!rcf.file.IsOpen()) return false;
    const auto it = rcf.entries.find(Lower(entry));
    if (it == rcf.entries.end()) return false;
    const auto [offset, size] = it->second;
    source = "default.rcf";
    // An entry that reaches past the end of the archive cannot be read; it is
    // refused before a buffer of its stated size is allocated.
    if (uint64_t(offset) + size > rcf.file.Size()) {
        data.clear();
        return false;
    }
    data.resize(size);
    return ReadAt(rcf.file, offset, data.data(), size);
}

} // namespace settings::menu_art
