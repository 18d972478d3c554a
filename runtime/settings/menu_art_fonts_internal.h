#pragma once
// Building blocks of the fonts, the scaler and the loader of settings::menu_art
// shared by their source files (and their tests). Not part of the public
// interface.
#include "runtime/settings/menu_art_fonts.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace settings::menu_art {

// One glyph of a game font; rectangles are in page pixels, half-open.
struct Glyph {
    int page = 0;
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    float left = 0;     // offset of the glyph image from the pen
    float advance = 0;  // pen advance
    bool icon = false;  // a button icon, not a letter
    bool empty = true;  // nothing to draw
    Image cell;         // the cleaned glyph image (letters only)
};

struct Font {
    std::string name;
    int cell = 0;       // line height: the pixel height of "A"
    float space = 0;    // advance of spaces and of missing or empty glyphs
    std::unordered_map<char32_t, Glyph> glyphs;
    std::vector<Image> pages;
};

// Finds the font chunk `name` in a package, composes its missing Portuguese
// letters and cuts its glyphs. `log` collects the composition summary.
bool LoadFont(const std::vector<unsigned char>& package, const std::string& name, Font& font,
              std::string& log);

// The plain upper-case ASCII letter a character folds to (' ' when none).
char Plain(char32_t c);

// The font when the game fonts loaded, else null.
const Font* LoadedFont(FontId font);

// Tap lists of the separable resampler: for each of dn destination indices,
// (source index, weight) pairs.
std::vector<std::vector<std::pair<int, float>>> Weights1D(int sn, int dn);
// The uncached scaler behind Scaled.
Image Resample(const Image& image, int sx, int sy, int sw, int sh, int dw, int dh, bool flipX,
               bool flipY);
// Number of cached scaled images.
size_t CacheSize();

// ---- loader -----------------------------------------------------------------

// What one load run found.
struct ArtLoad {
    Image art[ART_COUNT];       // indexed by Art; width 0 = not found
    Font fonts[2];              // indexed by FontId
    bool fontsLoaded = false;   // both fonts
    bool archiveOpened = false;
    std::string persistentSource;  // where the persistent package came from
    std::string composition;       // the font composition summary
    int ImagesFound() const;
};

// The loader's work without publishing it: opens default.rcf, reads the three
// packages, loads the fonts and decodes the menu images into `load`.
void LoadArt(ArtLoad& load);


// Whether the loader has finished with both fonts loaded (reads under the lock).
bool FontsOk();
// The font slots the loader fills before it publishes them.
Font& FontSlot(FontId font);

namespace testing {
// Whether LoadArt may run part of its work on a helper thread (the default
// where the processor has more than one core) or runs it all on its own.
void SetLoaderHelper(bool helper);
// Whether LoadFont takes the pixels of pages the composer decoded or drew
// (the default) or decodes every page of the composed chunk itself.
void SetReuseComposedPages(bool reuse);
// Publishes fonts as the loader would (for tests that have no archive); a
// test process calls it before any loading starts.
void PublishFonts(Font small, Font large, bool ok);
// Switches between the published game fonts and the overlay font.
void SetFontsOk(bool ok);
// Runs on the loader thread just before it publishes its results; tests use it
// to hold the loader at that point.
void SetBeforePublishHook(void (*hook)());
} // namespace testing

} // namespace settings::menu_art
