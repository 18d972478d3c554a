// System fonts and the text canvas. FreeType and fontconfig are opened at run
// time; the few structures read from FreeType are declared here with the
// layout of FreeType 2's public interface.
#include "runtime/platform/text_canvas.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "runtime/log.h"
#include "runtime/platform/platform.h"

namespace plat {
namespace {

// ---- FreeType 2 public structures (only as far as they are read) -------------

using FT_Error = int;
using FT_Pos = long;
using FT_Fixed = long;
using FT_Long = long;
struct FT_LibraryRec;
using FT_Library = FT_LibraryRec*;
struct FT_Generic {
    void* data;
    void (*finalizer)(void*);
};
struct FT_Vector {
    FT_Pos x, y;
};
struct FT_BBox {
    FT_Pos xMin, yMin, xMax, yMax;
};
struct FT_Bitmap {
    unsigned int rows;
    unsigned int width;
    int pitch;
    unsigned char* buffer;
    unsigned short num_grays;
    unsigned char pixel_mode;
    unsigned char palette_mode;
    void* palette;
};
struct FT_Glyph_Metrics {
    FT_Pos width, height, horiBearingX, horiBearingY, horiAdvance, vertBearingX, vertBearingY, vertAdvance;
};
struct FT_GlyphSlotRec {
    FT_Library library;
    void* face;
    FT_GlyphSlotRec* next;
    unsigned int glyph_index;
    FT_Generic generic;
    FT_Glyph_Metrics metrics;
    FT_Fixed linearHoriAdvance;
    FT_Fixed linearVertAdvance;
    FT_Vector advance;
    unsigned int format;
    FT_Bitmap bitmap;
    int bitmap_left;
    int bitmap_top;
};
struct FT_Size_Metrics {
    unsigned short x_ppem, y_ppem;
    FT_Fixed x_scale, y_scale;
    FT_Pos ascender, descender, height, max_advance;
};
struct FT_SizeRec {
    void* face;
    FT_Generic generic;
    FT_Size_Metrics metrics;
};
struct FT_FaceRec {
    FT_Long num_faces, face_index, face_flags, style_flags, num_glyphs;
    char* family_name;
    char* style_name;
    int num_fixed_sizes;
    void* available_sizes;
    int num_charmaps;
    void* charmaps;
    FT_Generic generic;
    FT_BBox bbox;
    unsigned short units_per_EM;
    short ascender, descender, height, max_advance_width, max_advance_height, underline_position,
        underline_thickness;
    FT_GlyphSlotRec* glyph;
    FT_SizeRec* size;
};
using FT_Face = FT_FaceRec*;
constexpr int FT_LOAD_RENDER_LIGHT = 0x10004;  // FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT

// fontconfig handles and constants.
struct FcPattern;
struct FcConfig;
using FcBool = int;
using FcChar8 = unsigned char;
constexpr int FC_MATCH_PATTERN = 0;
constexpr int FC_RESULT_MATCH = 0;

struct Api {
    FT_Error (*FT_Init_FreeType)(FT_Library*);
    FT_Error (*FT_New_Face)(FT_Library, const char*, FT_Long, FT_Face*);
    FT_Error (*FT_Set_Pixel_Sizes)(FT_Face, unsigned int, unsigned int);
    unsigned int (*FT_Get_Char_Index)(FT_Face, unsigned long);
    FT_Error (*FT_Load_Glyph)(FT_Face, unsigned int, int);
    FcBool (*FcInit)();
    FcPattern* (*FcPatternCreate)();
    FcBool (*FcPatternAddString)(FcPattern*, const char*, const FcChar8*);
    FcBool (*FcPatternAddInteger)(FcPattern*, const char*, int);
    FcBool (*FcPatternAddBool)(FcPattern*, const char*, FcBool);
    FcBool (*FcConfigSubstitute)(FcConfig*, FcPattern*, int);
    void (*FcDefaultSubstitute)(FcPattern*);
    FcPattern* (*FcFontMatch)(FcConfig*, FcPattern*, int*);
    int (*FcPatternGetString)(const FcPattern*, const char*, int, FcChar8**);
    void (*FcPatternDestroy)(FcPattern*);
};

template <typename T>
bool Resolve(void* library, const char* name, T& slot) {
    void* symbol = library ? FindSymbol(library, name) : nullptr;
    slot = reinterpret_cast<T>(symbol);
    return symbol != nullptr;
}

const Api* Load() {
    static Api api;
    void* ft = OpenLibrary("libfreetype.so.6");
    void* fc = ft ? OpenLibrary("libfontconfig.so.1") : nullptr;
    const bool ok = ft && fc && Resolve(ft, "FT_Init_FreeType", api.FT_Init_FreeType) &&
                    Resolve(ft, "FT_New_Face", api.FT_New_Face) &&
                    Resolve(ft, "FT_Set_Pixel_Sizes", api.FT_Set_Pixel_Sizes) &&
                    Resolve(ft, "FT_Get_Char_Index", api.FT_Get_Char_Index) &&
                    Resolve(ft, "FT_Load_Glyph", api.FT_Load_Glyph) && Resolve(fc, "FcInit", api.FcInit) &&
                    Resolve(fc, "FcPatternCreate", api.FcPatternCreate) &&
                    Resolve(fc, "FcPatternAddString", api.FcPatternAddString) &&
                    Resolve(fc, "FcPatternAddInteger", api.FcPatternAddInteger) &&
                    Resolve(fc, "FcPatternAddBool", api.FcPatternAddBool) &&
                    Resolve(fc, "FcConfigSubstitute", api.FcConfigSubstitute) &&
                    Resolve(fc, "FcDefaultSubstitute", api.FcDefaultSubstitute) &&
                    Resolve(fc, "FcFontMatch", api.FcFontMatch) &&
                    Resolve(fc, "FcPatternGetString", api.FcPatternGetString) &&
                    Resolve(fc, "FcPatternDestroy", api.FcPatternDestroy);
    if (ok) return &api;
    Log("[text] libfreetype.so.6 / libfontconfig.so.1 not usable (%s): no subtitles or console text",
        LastErrorText().c_str());
    return nullptr;
}

// The entry points, or null; computed once.
const Api* LoadApi() {
    static const Api* api = Load();
    return api;
}

struct Glyph {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int advance = 0;
    std::vector<uint8_t> coverage;
};

struct Font {
    FT_Face face = nullptr;
    int ascent = 0;
    int height = 0;
    int averageWidth = 1;
    std::unordered_map<char32_t, Glyph> glyphs;
    std::mutex mutex;

    // The glyph of `c`, rendered on first use; the caller holds `mutex` (or
    // is the only one who can see this font).
    const Glyph& Get(char32_t c) {
        auto found = glyphs.find(c);
        if (found != glyphs.end()) return found->second;
        Glyph g;
        const Api* api = LoadApi();
        if (api && face) {
            const unsigned int index = api->FT_Get_Char_Index(face, c);
            if (index != 0 && api->FT_Load_Glyph(face, index, FT_LOAD_RENDER_LIGHT) == 0) {
                const FT_GlyphSlotRec* slot = face->glyph;
                g.left = slot->bitmap_left;
                g.top = slot->bitmap_top;
                g.width = static_cast<int>(slot->bitmap.width);
                g.height = static_cast<int>(slot->bitmap.rows);
                g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
                if (slot->bitmap.buffer && g.width > 0 && g.height > 0) {
                    g.coverage.resize(static_cast<size_t>(g.width) * g.height);
                    for (int y = 0; y < g.height; ++y) {
                        const unsigned char* row = slot->bitmap.buffer + static_cast<long>(slot->bitmap.pitch) * y;
                        std::copy(row, row + g.width, g.coverage.begin() + static_cast<size_t>(y) * g.width);
                    }
                } else {
                    g.width = g.height = 0;
                }
            }
        }
        return glyphs.emplace(c, std::move(g)).first->second;
    }
};

std::mutex g_mutex;
std::map<std::pair<int, bool>, std::string> g_files;
FT_Library g_library = nullptr;
std::map<std::tuple<int, int, bool>, std::unique_ptr<Font>> g_fonts;

// The fontconfig query for a face and weight, cached; the caller holds g_mutex.
std::string FontFile(FontFace face, bool semibold) {
    const auto key = std::make_pair(static_cast<int>(face), semibold);
    auto found = g_files.find(key);
    if (found != g_files.end()) return found->second;
    std::string path;
    const Api* api = LoadApi();
    if (api && api->FcInit()) {
        const char* family = face == FontFace::Monospace ? "monospace" : "sans-serif";
        if (FcPattern* pattern = api->FcPatternCreate()) {
            api->FcPatternAddString(pattern, "family", reinterpret_cast<const FcChar8*>(family));
            api->FcPatternAddInteger(pattern, "weight", semibold ? 180 : 80);
            api->FcPatternAddBool(pattern, "scalable", 1);
            api->FcConfigSubstitute(nullptr, pattern, FC_MATCH_PATTERN);
            api->FcDefaultSubstitute(pattern);
            int result = 0;
            if (FcPattern* match = api->FcFontMatch(nullptr, pattern, &result)) {
                FcChar8* file = nullptr;
                if (api->FcPatternGetString(match, "file", 0, &file) == FC_RESULT_MATCH && file)
                    path = reinterpret_cast<const char*>(file);
                api->FcPatternDestroy(match);
            }
            api->FcPatternDestroy(pattern);
        }
        Log("[text] %s%s: %s", family, semibold ? " semibold" : "", path.empty() ? "no font found" : path.c_str());
    }
    g_files.emplace(key, path);
    return path;
}

// Text split into wrapped lines of at most maxWidth (a longer word stays
// whole); "\n" separates paragraphs, a "\r" before it is dropped.
std::vector<std::wstring> Wrap(Font& font, const std::wstring& text, int maxWidth) {
    auto width = [&font](const std::wstring& s) {
        int w = 0;
        for (wchar_t c : s) w += font.Get(static_cast<char32_t>(c)).advance;
        return w;
    };
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L'\n', start);
        std::wstring paragraph = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!paragraph.empty() && paragraph.back() == L'\r') paragraph.pop_back();
        std::wstring line;
        size_t pos = 0;
        for (;;) {
            const size_t space = paragraph.find(L' ', pos);
            const std::wstring word =
                paragraph.substr(pos, space == std::wstring::npos ? std::wstring::npos : space - pos);
            if (line.empty()) {
                line = word;
            } else {
                std::wstring candidate = line + L" " + word;
                if (width(candidate) > maxWidth) {
                    lines.push_back(line);
                    line = word;
                } else {
                    line = std::move(candidate);
                }
            }
            if (space == std::wstring::npos) break;
            pos = space + 1;
        }
        lines.push_back(line);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return lines;
}

} // namespace

std::string SystemFontFile(FontFace face, bool bold) {
    if (!LoadApi()) return {};
    std::lock_guard<std::mutex> lock(g_mutex);
    return FontFile(face, bold);
}

struct TextCanvas::Impl {
    Font* font = nullptr;
    std::vector<uint32_t> bits;
};

namespace {

// One line into a canvas of width x height; the caller holds the font's mutex.
void DrawLine(Font& font, std::vector<uint32_t>& bits, int width, int height, int x, int y,
              const std::wstring& text, int clipTop, int clipBottom) {
    const int top = std::max(clipTop, 0);
    const int bottom = std::min(height, clipBottom);
    for (wchar_t c : text) {
        const Glyph& g = font.Get(static_cast<char32_t>(c));
        for (int gy = 0; gy < g.height; ++gy) {
            const int row = y + font.ascent + gy - g.top;
            if (row < top || row >= bottom) continue;
            for (int gx = 0; gx < g.width; ++gx) {
                const int column = x + g.left + gx;
                if (column < 0 || column >= width) continue;
                const uint32_t v = g.coverage[static_cast<size_t>(gy) * g.width + gx];
                uint32_t& pixel = bits[static_cast<size_t>(row) * width + column];
                if (v > (pixel & 0xFFu)) pixel = v * 0x010101u;
            }
        }
        x += g.advance;
    }
}

int LineWidth(Font& font, const std::wstring& text) {
    int w = 0;
    for (wchar_t c : text) w += font.Get(static_cast<char32_t>(c)).advance;
    return w;
}

} // namespace

TextCanvas::TextCanvas() : m_impl(std::make_unique<Impl>()) {}
TextCanvas::~TextCanvas() = default;
TextCanvas::TextCanvas(const TextCanvas& other)
    : m_impl(std::make_unique<Impl>(*other.m_impl)), m_width(other.m_width), m_height(other.m_height) {}
TextCanvas& TextCanvas::operator=(const TextCanvas& other) {
    if (this != &other) {
        *m_impl = *other.m_impl;
        m_width = other.m_width;
        m_height = other.m_height;
    }
    return *this;
}

bool TextCanvas::SetFont(FontFace face, int pixelHeight, bool semibold) {
    if (pixelHeight < 2) pixelHeight = 1;
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto key = std::make_tuple(static_cast<int>(face), pixelHeight, semibold);
    auto found = g_fonts.find(key);
    if (found != g_fonts.end()) {
        m_impl->font = found->second.get();
        return true;
    }
    const Api* api = LoadApi();
    if (!api) return false;
    if (!g_library && api->FT_Init_FreeType(&g_library) != 0) {
        g_library = nullptr;
        return false;
    }
    const std::string path = FontFile(face, semibold);
    FT_Face ftFace = nullptr;
    if (path.empty() || api->FT_New_Face(g_library, path.c_str(), 0, &ftFace) != 0 || !ftFace) return false;
    api->FT_Set_Pixel_Sizes(ftFace, 0, static_cast<unsigned int>(pixelHeight));
    auto font = std::make_unique<Font>();
    font->face = ftFace;
    if (ftFace->size) {
        font->ascent = static_cast<int>((ftFace->size->metrics.ascender + 63) >> 6);
        font->height = font->ascent - static_cast<int>(ftFace->size->metrics.descender >> 6);
    }
    font->averageWidth = std::max(font->Get(U'x').advance, 1);
    m_impl->font = font.get();
    g_fonts.emplace(key, std::move(font));
    return true;
}

void TextCanvas::Metrics(int& charWidth, int& lineHeight) const {
    if (!m_impl->font) {
        charWidth = lineHeight = 1;
        return;
    }
    charWidth = m_impl->font->averageWidth;
    lineHeight = m_impl->font->height;
}

bool TextCanvas::Resize(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    m_impl->bits.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
    m_width = width;
    m_height = height;
    return true;
}

void TextCanvas::Clear() { std::fill(m_impl->bits.begin(), m_impl->bits.end(), 0u); }

void TextCanvas::Draw(int x, int y, const std::wstring& text) {
    Font* font = m_impl->font;
    if (!font || m_impl->bits.empty()) return;
    std::lock_guard<std::mutex> lock(font->mutex);
    DrawLine(*font, m_impl->bits, m_width, m_height, x, y, text, 0, m_height);
}

int TextCanvas::TextWidth(const std::wstring& text) const {
    Font* font = m_impl->font;
    if (!font) return 0;
    std::lock_guard<std::mutex> lock(font->mutex);
    return LineWidth(*font, text);
}

void TextCanvas::MeasureWrapped(const std::wstring& text, int maxWidth, int& width, int& height) {
    width = height = 0;
    Font* font = m_impl->font;
    if (!font) return;
    std::lock_guard<std::mutex> lock(font->mutex);
    const std::vector<std::wstring> lines = Wrap(*font, text, maxWidth);
    int widest = 0;
    for (const std::wstring& line : lines) widest = std::max(widest, LineWidth(*font, line));
    width = std::min(maxWidth, widest);
    height = static_cast<int>(lines.size()) * font->height;
}

void TextCanvas::DrawWrapped(const std::wstring& text, int x, int y, int width, int height) {
    Font* font = m_impl->font;
    if (!font || m_impl->bits.empty() || height <= 0) return;
    std::lock_guard<std::mutex> lock(font->mutex);
    const std::vector<std::wstring> lines = Wrap(*font, text, width);
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = y + static_cast<int>(i) * font->height;
        if (row >= y + height) break;
        const int left = x + (width - LineWidth(*font, lines[i])) / 2;
        DrawLine(*font, m_impl->bits, m_width, m_height, left, row, lines[i], y, y + height);
    }
}

void TextCanvas::Flush() {}

const uint32_t* TextCanvas::Pixels() const { return m_impl->bits.empty() ? nullptr : m_impl->bits.data(); }

} // namespace plat
