#include "platform/gdi.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include "platform/builtin_font.h"
#include "platform/gdi_internal.h"
#include "platform/window_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct tessivane::platform::HFONT__ {
    FT_Face face = nullptr; // null: the built-in bitmap font, scaled by builtinScale
    int builtinScale = 1;
    int ascent = 0;     // pixels from the cell's top to the baseline
    int cellHeight = 0; // ascent + descent, pixels
    bool antialiased = true;
};

struct tessivane::platform::HDC__ {
    std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    HFONT font = nullptr;
    COLORREF text = RGB(0, 0, 0);
    COLORREF background = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
};

namespace tessivane::platform {

namespace {

// Cell height of the system font a fresh context starts with.
constexpr int SYSTEM_FONT_HEIGHT = 16;

// Every font and context the process made. Fonts are never freed before the process ends
// unless deleted, as the system keeps them.
struct Gdi {
    FT_Library library = nullptr;
    bool libraryFailed = false;
    std::vector<std::unique_ptr<HFONT__>> fonts;
    std::vector<std::unique_ptr<HDC__>> contexts;
    HFONT systemFont = nullptr;

    ~Gdi() {
        for (auto& font : fonts) {
            if (font->face != nullptr) {
                FT_Done_Face(font->face);
            }
        }
        if (library != nullptr) {
            FT_Done_FreeType(library);
            FcFini();
        }
    }
};

Gdi& gdi() {
    static Gdi instance;
    return instance;
}

bool startFonts() {
    Gdi& g = gdi();
    if (g.library == nullptr && !g.libraryFailed) {
        g.libraryFailed = FT_Init_FreeType(&g.library) != 0 || !FcInit();
    }
    return !g.libraryFailed;
}

// The file and face index the font configuration picks for these attributes.
bool matchFontFile(const char* family, int weight, bool italic, bool fixedPitch, std::string& file,
                   int& index) {
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) {
        return false;
    }
    FcPatternAddString(pattern, FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(family != nullptr ? family
                                                        : fixedPitch      ? "monospace"
                                                                          : "sans-serif"));
    FcPatternAddInteger(pattern, FC_WEIGHT, weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) {
        return false;
    }
    FcChar8* path = nullptr;
    const bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch;
    if (found) {
        file = reinterpret_cast<const char*>(path);
        index = 0;
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
    }
    FcPatternDestroy(match);
    return found;
}

// The built-in bitmap font at the largest whole scale whose cell fits the requested height.
// The first fallback says why on stderr, once: the text looks different from what the
// machine's fonts would give, and installing a font mends it.
HFONT builtinFont(int height, const std::string& why) {
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr, "tessivane: no usable font (%s): text is drawn in the built-in font\n",
                     why.c_str());
    }
    const int cell = height > 0 ? height : height < 0 ? -height * 10 / 8 : SYSTEM_FONT_HEIGHT;
    auto font = std::make_unique<HFONT__>();
    font->builtinScale = std::max(1, cell / detail::BUILTIN_CELL_HEIGHT);
    font->ascent = detail::BUILTIN_ASCENT * font->builtinScale;
    font->cellHeight = detail::BUILTIN_CELL_HEIGHT * font->builtinScale;
    gdi().fonts.push_back(std::move(font));
    return gdi().fonts.back().get();
}

// Loads a face and sizes it the way the font mapper sizes a scalable font: a positive
// height is the cell height, measured with the face's own ascent and descent for the
// screen; a negative height is the em height.
HFONT makeFont(int height, int width, int weight, bool italic, bool fixedPitch, bool antialiased,
               const char* faceName) {
    // Without a usable scalable font the text still shows, in the built-in font.
    std::string file;
    int index = 0;
    FT_Face face = nullptr;
    if (!startFonts()) {
        return builtinFont(height, "the font libraries cannot start");
    }
    if (!matchFontFile(faceName, weight, italic, fixedPitch, file, index)) {
        return builtinFont(height, "fontconfig finds no scalable font");
    }
    if (FT_New_Face(gdi().library, file.c_str(), index, &face) != 0) {
        return builtinFont(height, "cannot read " + file);
    }
    const double unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    double ascentUnits = face->ascender;
    double descentUnits = -face->descender;
    double averageWidthUnits = unitsPerEm / 2;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
        ascentUnits = os2->usWinAscent;
        descentUnits = os2->usWinDescent;
        if (os2->xAvgCharWidth > 0) {
            averageWidthUnits = os2->xAvgCharWidth;
        }
    }
    const double cellUnits = std::max(1.0, ascentUnits + descentUnits);
    const int cell = height == 0 ? SYSTEM_FONT_HEIGHT : height;
    const double emPixels = cell > 0 ? cell * unitsPerEm / cellUnits : -cell;
    const double emPixelsX = width > 0 ? width * unitsPerEm / averageWidthUnits : emPixels;
    if (FT_Set_Char_Size(face, std::lround(emPixelsX * 64), std::lround(emPixels * 64), 72, 72) !=
        0) {
        FT_Done_Face(face);
        return builtinFont(height, file + " cannot be sized");
    }
    auto font = std::make_unique<HFONT__>();
    font->face = face;
    font->ascent = static_cast<int>(std::lround(ascentUnits * emPixels / unitsPerEm));
    font->cellHeight =
        cell > 0 ? cell : static_cast<int>(std::lround(cellUnits * emPixels / unitsPerEm));
    font->antialiased = antialiased;
    gdi().fonts.push_back(std::move(font));
    return gdi().fonts.back().get();
}

HFONT systemFont() {
    Gdi& g = gdi();
    if (g.systemFont == nullptr) {
        g.systemFont = makeFont(SYSTEM_FONT_HEIGHT, 0, FW_BOLD, false, false, true, nullptr);
    }
    return g.systemFont;
}

bool isContext(HDC dc) {
    for (const auto& c : gdi().contexts) {
        if (c.get() == dc) {
            return true;
        }
    }
    return false;
}

bool isFont(HGDIOBJ object) {
    for (const auto& f : gdi().fonts) {
        if (f.get() == object) {
            return true;
        }
    }
    return false;
}

// Blends colour over the X8R8G8B8 pixel by coverage 0..255.
void blend(std::uint8_t* pixel, COLORREF color, unsigned coverage) {
    const unsigned source[3] = {(color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF}; // b g r
    for (int channel = 0; channel < 3; ++channel) {
        const unsigned under = pixel[channel];
        pixel[channel] = static_cast<std::uint8_t>(
            (under * (255 - coverage) + source[channel] * coverage + 127) / 255);
    }
    pixel[3] = 0;
}

void fill(HDC dc, int x0, int y0, int x1, int y1, COLORREF color) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, dc->width);
    y1 = std::min(y1, dc->height);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            blend(dc->bits + y * dc->pitch + x * 4, color, 255);
        }
    }
}

void drawBuiltinText(HDC dc, HFONT font, int x, int y, const char* text, int count) {
    const int scale = font->builtinScale;
    if (dc->backgroundMode == OPAQUE) {
        fill(dc, x, y, x + count * detail::BUILTIN_ADVANCE * scale, y + font->cellHeight,
             dc->background);
    }
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* glyph = detail::builtinGlyph(static_cast<unsigned char>(text[i]));
        const int left = x + i * detail::BUILTIN_ADVANCE * scale;
        for (int row = 0; row < detail::BUILTIN_GLYPH_ROWS; ++row) {
            for (int column = 0; column < detail::BUILTIN_GLYPH_COLUMNS; ++column) {
                if (glyph[row] & (0x10 >> column)) {
                    const int px = left + column * scale;
                    const int py = y + (row + 1) * scale; // a blank row above every glyph
                    fill(dc, px, py, px + scale, py + scale, dc->text);
                }
            }
        }
    }
}

} // namespace

namespace detail {

HDC createSurfaceDC(std::uint8_t* bits, int width, int height, int pitch) {
    auto dc = std::make_unique<HDC__>();
    dc->bits = bits;
    dc->width = width;
    dc->height = height;
    dc->pitch = pitch;
    gdi().contexts.push_back(std::move(dc));
    return gdi().contexts.back().get();
}

void deleteSurfaceDC(HDC dc) {
    auto& contexts = gdi().contexts;
    contexts.erase(std::remove_if(contexts.begin(), contexts.end(),
                                  [dc](const auto& c) { return c.get() == dc; }),
                   contexts.end());
}

} // namespace detail

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD, DWORD, DWORD, DWORD quality,
                  DWORD pitchAndFamily, const char* faceName) {
    if (escapement != 0 || orientation != 0 || underline || strikeOut || width < 0) {
        detail::reportUnsupported("rotated, underlined or struck-out text");
        return nullptr;
    }
    return makeFont(height, width, weight, italic != 0, (pitchAndFamily & 3) == FIXED_PITCH,
                    quality != NONANTIALIASED_QUALITY, faceName);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    if (!isContext(dc) || !isFont(object)) {
        return nullptr;
    }
    HGDIOBJ previous = dc->font != nullptr ? dc->font : systemFont();
    dc->font = static_cast<HFONT>(object);
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto& fonts = gdi().fonts;
    for (auto it = fonts.begin(); it != fonts.end(); ++it) {
        if (it->get() == object && object != gdi().systemFont) {
            for (const auto& dc : gdi().contexts) {
                if (dc->font == object) {
                    return FALSE; // still selected somewhere
                }
            }
            if ((*it)->face != nullptr) {
                FT_Done_Face((*it)->face);
            }
            fonts.erase(it);
            return TRUE;
        }
    }
    return FALSE;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    if (!isContext(dc)) {
        return CLR_INVALID;
    }
    return std::exchange(dc->text, color & 0x00FFFFFF);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    if (!isContext(dc)) {
        return CLR_INVALID;
    }
    return std::exchange(dc->background, color & 0x00FFFFFF);
}

int SetBkMode(HDC dc, int mode) {
    if (!isContext(dc) || (mode != OPAQUE && mode != TRANSPARENT)) {
        return 0;
    }
    return std::exchange(dc->backgroundMode, mode);
}

BOOL TextOutA(HDC dc, int x, int y, const char* text, int count) {
    if (!isContext(dc) || text == nullptr || count < 0) {
        return FALSE;
    }
    const HFONT font = dc->font != nullptr ? dc->font : systemFont();
    if (font == nullptr) {
        return FALSE;
    }
    if (font->face == nullptr) {
        drawBuiltinText(dc, font, x, y, text, count);
        return TRUE;
    }
    FT_Face face = font->face;
    const FT_Int32 loadFlags =
        FT_LOAD_RENDER | (font->antialiased ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
    // Narrow strings are single-byte text; their codes are the first 256 of the font's map.
    auto code = [&](int i) { return static_cast<FT_ULong>(static_cast<unsigned char>(text[i])); };

    if (dc->backgroundMode == OPAQUE) {
        int extent = 0;
        for (int i = 0; i < count; ++i) {
            if (FT_Load_Char(face, code(i), FT_LOAD_DEFAULT) == 0) {
                extent += static_cast<int>((face->glyph->advance.x + 32) >> 6);
            }
        }
        fill(dc, x, y, x + extent, y + font->cellHeight, dc->background);
    }
    int penX = x;
    const int baseline = y + font->ascent;
    for (int i = 0; i < count; ++i) {
        if (FT_Load_Char(face, code(i), loadFlags) != 0) {
            continue;
        }
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        const int left = penX + glyph->bitmap_left;
        const int top = baseline - glyph->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const int py = top + static_cast<int>(row);
            if (py < 0 || py >= dc->height) {
                continue;
            }
            const unsigned char* source = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const int px = left + static_cast<int>(column);
                if (px < 0 || px >= dc->width) {
                    continue;
                }
                const unsigned coverage =
                    bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                        ? ((source[column / 8] >> (7 - column % 8)) & 1) * 255u
                        : source[column];
                if (coverage != 0) {
                    blend(dc->bits + py * dc->pitch + px * 4, dc->text, coverage);
                }
            }
        }
        penX += static_cast<int>((glyph->advance.x + 32) >> 6);
    }
    return TRUE;
}

} // namespace tessivane::platform
