// load_order.txt: the mod order from arbitrary text. Input: the enabled mod
// folder names (lines before the first NUL byte), then the file's text.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/fs/vfs.h"

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(size ? reinterpret_cast<const char*>(data) : "", size);
    const size_t split = input.find('\0');
    const std::string_view names = input.substr(0, split);
    const std::string_view loadOrder = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    // Enabled folders as the mods folder gives them: no empty names, none
    // beginning with '.' or '_', sorted by lower-cased name.
    std::vector<std::string> enabled;
    size_t start = 0;
    while (start < names.size()) {
        size_t nl = names.find('\n', start);
        std::string_view name = names.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!name.empty() && name.front() != '.' && name.front() != '_' && name.find('/') == std::string_view::npos)
            enabled.emplace_back(name);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    std::stable_sort(enabled.begin(), enabled.end(),
                     [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });

    std::vector<std::string> notEnabled;
    std::vector<std::string> order = vfs::OrderMods(enabled, loadOrder, &notEnabled);

    // Every enabled folder exactly once, nothing else.
    std::vector<std::string> a = enabled, b = order;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b) __builtin_trap();
    // Names reported as not enabled are non-empty, trimmed, not comments.
    for (const std::string& name : notEnabled) {
        if (name.empty() || name.front() == '#' || name.front() == ' ' || name.front() == '\t') __builtin_trap();
        const char last = name.back();
        if (last == ' ' || last == '\t' || last == '\r' || last == '\n') __builtin_trap();
    }
    // With no load order text the sorted order stands.
    if (loadOrder.empty() && order != enabled) __builtin_trap();
    return 0;
}
