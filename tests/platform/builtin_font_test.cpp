// Text on a machine without any usable font: this test program runs with a font
// configuration that knows no fonts.
#include "platform/gdi.h"
#include "platform/gdi_internal.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::platform {
namespace {

TEST(BuiltinFont, CaptionsStillShowInTheLargestWholeScaleThatFits) {
    std::vector<std::uint32_t> pixels(256 * 256, 0xFFFFFFFF);
    HDC dc =
        detail::createSurfaceDC(reinterpret_cast<std::uint8_t*>(pixels.data()), 256, 256, 1024);
    HFONT font = CreateFontA(25, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH, nullptr);
    ASSERT_NE(font, nullptr);
    SelectObject(dc, font);
    SetTextColor(dc, RGB(255, 0, 0));
    ASSERT_TRUE(TextOutA(dc, 0, 0, "T", 1));
    // The 10-row cell doubled to 20: the T's bar, the glyph's first row under one blank
    // row, covers rows 2..3 and columns 0..9 in solid red; nothing lies below row 20.
    EXPECT_EQ(pixels[2 * 256 + 0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(pixels[3 * 256 + 9] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(pixels[2 * 256 + 10] & 0xFFFFFF, 0xFFFFFFu);
    for (int y = 20; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            ASSERT_EQ(pixels[y * 256 + x] & 0xFFFFFF, 0xFFFFFFu) << x << "," << y;
        }
    }
    detail::deleteSurfaceDC(dc);
}

} // namespace
} // namespace tessivane::platform
