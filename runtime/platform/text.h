#pragma once
// Conversions between UTF-8 (the encoding of every std::string here) and wide
// (32-bit wchar_t, one code point per element) or UTF-16 text. Bad input never
// fails: each invalid sequence becomes U+FFFD.
#include <string>
#include <string_view>

namespace plat {

std::wstring WidenUtf8(std::string_view text);
// Writes each element as UTF-8 without validating it (a lone surrogate value
// comes out in the three-byte form).
std::string NarrowUtf8(std::wstring_view text);
std::u16string Utf16FromUtf8(std::string_view text);

} // namespace plat
