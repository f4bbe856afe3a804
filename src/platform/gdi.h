// Text drawing onto a surface's device context: the subset of the platform's graphics
// device interface the captions use. Fonts come from the system's font configuration and
// are drawn anti-aliased; device contexts come from IDirect3DSurface9::GetDC.
//
// Fonts and other objects live until they are deleted or the process ends.
#pragma once

#include "platform/win_types.h"

namespace tessivane::platform {

struct HFONT__;
using HFONT = HFONT__*;
using HGDIOBJ = void*;
using COLORREF = DWORD; // 0x00BBGGRR

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 |
           static_cast<COLORREF>(b) << 16;
}

inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
inline constexpr int FW_NORMAL = 400;
inline constexpr int FW_BOLD = 700;
inline constexpr DWORD DEFAULT_CHARSET = 1;
inline constexpr DWORD OUT_DEFAULT_PRECIS = 0;
inline constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
inline constexpr DWORD DEFAULT_QUALITY = 0;
inline constexpr DWORD NONANTIALIASED_QUALITY = 3;
inline constexpr DWORD ANTIALIASED_QUALITY = 4;
inline constexpr DWORD DEFAULT_PITCH = 0;
inline constexpr DWORD FIXED_PITCH = 1;
inline constexpr DWORD VARIABLE_PITCH = 2;
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// A logical font. height > 0 asks for that cell height (ascent + descent) in pixels,
// height < 0 for that character (em) height, 0 for the default size; width 0 keeps the
// face's own proportions. faceName null lets the font configuration choose. Null on
// failure: no usable font, or an attribute this stand-in does not draw (escapement,
// orientation, underline, strike-out).
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName);
// Selects a font into the context; returns the previous one (null on failure).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
// Return the previous value (CLR_INVALID, or 0 for the mode, on failure).
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
// Draws count characters with their cells' top-left corner at (x, y). In OPAQUE mode the
// cells are first filled with the background colour. Clipped to the surface.
BOOL TextOutA(HDC dc, int x, int y, const char* text, int count);

} // namespace tessivane::platform
