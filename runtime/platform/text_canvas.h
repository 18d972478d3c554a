#pragma once
// System fonts through fontconfig and FreeType, both opened at run time (the
// program links against neither), and a grey-level text canvas drawn with them.
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

enum class FontFace { Ui = 0, Monospace = 1 };

// Path of the best matching scalable system font for the face ("sans-serif"
// or "monospace") in semibold or regular weight; empty when there is none or
// the font libraries cannot be used. Looked up once per face and weight.
std::string SystemFontFile(FontFace face, bool bold);

// Wrapped text rendered into a buffer of grey levels: a pixel holds the grey
// level v as v * 0x010101. A canvas is not copied (the copy operations exist
// but have no use).
class TextCanvas {
public:
    TextCanvas();
    ~TextCanvas();
    TextCanvas(const TextCanvas&);
    TextCanvas& operator=(const TextCanvas&);

    // Picks a face at a pixel height (below 2 becomes 1); false keeps the
    // previous font.
    bool SetFont(FontFace face, int pixelHeight, bool semibold);
    // Average character width and line height; 1 and 1 without a font.
    void Metrics(int& charWidth, int& lineHeight) const;
    // A new all-black buffer; only when both sides are positive.
    bool Resize(int width, int height);
    void Clear();
    // One line with its top at row y, starting at column x.
    void Draw(int x, int y, const std::wstring& text);
    int TextWidth(const std::wstring& text) const;
    // Size of the text wrapped at maxWidth: width min(maxWidth, widest line),
    // height lines x line height; both 0 without a font.
    void MeasureWrapped(const std::wstring& text, int maxWidth, int& width, int& height);
    // The text wrapped to `width`, each line centred, clipped to the rows
    // y ... y + height - 1.
    void DrawWrapped(const std::wstring& text, int x, int y, int width, int height);
    void Flush();
    // The pixel buffer (Width() x Height()), null when there is none.
    const uint32_t* Pixels() const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    int m_width = 0;
    int m_height = 0;
};

} // namespace plat
