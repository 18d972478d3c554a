// UTF-8 <-> wide and UTF-16 conversions. Invalid UTF-8 becomes U+FFFD.
#include "runtime/platform/text.h"

#include <cstdint>

namespace plat {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

} // namespace

std::wstring WidenUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = uint8_t(text[i]);
        if (lead < 0x80) {
            out.push_back(wchar_t(lead));
            ++i;
            continue;
        }
        size_t length;
        uint32_t value;
        if (lead >= 0xC0 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            length = 4;
            value = lead & 0x07u;
        } else {
            out.push_back(wchar_t(REPLACEMENT));
            ++i;
            continue;
        }
        if (length > size - i) {
            // Truncated: only the lead byte is consumed; the rest is looked at again.
            out.push_back(wchar_t(REPLACEMENT));
            ++i;
            continue;
        }
        bool valid = true;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = uint8_t(text[i + k]);
            if ((next & 0xC0u) != 0x80u) valid = false;
            value = (value << 6) | (next & 0x3Fu);
        }
        if (!valid || value > 0x10FFFFu || (value >= 0xD800u && value <= 0xDFFFu)) value = REPLACEMENT;
        out.push_back(wchar_t(value));
        i += length;
    }
    return out;
}

std::string NarrowUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t element : text) {
        const uint32_t v = uint32_t(element);
        if (v < 0x80) {
            out.push_back(char(v));
        } else if (v < 0x800) {
            out.push_back(char(0xC0 | (v >> 6)));
            out.push_back(char(0x80 | (v & 0x3F)));
        } else if (v <= 0xFFFF) {
            out.push_back(char(0xE0 | (v >> 12)));
            out.push_back(char(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(char(0x80 | (v & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (v >> 18)));
            out.push_back(char(0x80 | ((v >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(char(0x80 | (v & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf16FromUtf8(std::string_view text) {
    const std::wstring wide = WidenUtf8(text);
    std::u16string out;
    out.reserve(wide.size());
    for (wchar_t element : wide) {
        const uint32_t v = uint32_t(element);
        if (v < 0x10000) {
            out.push_back(char16_t(v));
        } else {
            out.push_back(char16_t(0xD7C0 + (v >> 10)));
            out.push_back(char16_t(0xDC00 | (v & 0x3FF)));
        }
    }
    return out;
}

} // namespace plat
