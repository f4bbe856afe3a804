#include "platform/gdi.h"
#include "platform/gdi_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::platform {
namespace {

constexpr int SIZE = 256;

struct Canvas {
    explicit Canvas(std::uint32_t fillWith = 0xFFFFFFFF) : pixels(SIZE * SIZE, fillWith) {
        dc = detail::createSurfaceDC(reinterpret_cast<std::uint8_t*>(pixels.data()), SIZE, SIZE,
                                     SIZE * 4);
    }
    ~Canvas() { detail::deleteSurfaceDC(dc); }
    std::uint32_t at(int x, int y) const { return pixels[y * SIZE + x] & 0x00FFFFFF; }

    // The rows and columns where anything differs from white.
    void inkBounds(int& right, int& bottom) const {
        right = -1;
        bottom = -1;
        for (int y = 0; y < SIZE; ++y) {
            for (int x = 0; x < SIZE; ++x) {
                if (at(x, y) != 0xFFFFFF) {
                    right = std::max(right, x);
                    bottom = std::max(bottom, y);
                }
            }
        }
    }

    std::vector<std::uint32_t> pixels;
    HDC dc;
};

HFONT captionFont() {
    return CreateFontA(25, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                       nullptr);
}

TEST(Text, RedCaptionSitsInOneCellAtTheTopLeftWithSmoothEdges) {
    Canvas canvas;
    HFONT font = captionFont();
    ASSERT_NE(font, nullptr);
    SelectObject(canvas.dc, font);
    SetTextColor(canvas.dc, RGB(255, 0, 0));
    ASSERT_TRUE(TextOutA(canvas.dc, 0, 0, "Tessivane", 9));

    int right = 0, bottom = 0;
    canvas.inkBounds(right, bottom);
    EXPECT_LT(bottom, 25); // one 25-pixel cell
    EXPECT_GT(right, 60);  // nine letters
    EXPECT_LT(right, 200);
    int solid = 0, partial = 0;
    for (std::uint32_t p : canvas.pixels) {
        p &= 0xFFFFFF;
        const unsigned r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
        EXPECT_EQ(r, 255u); // red over white never loses red
        EXPECT_EQ(g, b);    // and stays on the red-white line
        solid += p == 0xFF0000;
        partial += p != 0xFF0000 && p != 0xFFFFFF;
    }
    EXPECT_GT(solid, 50);
    EXPECT_GT(partial, 50); // anti-aliased
}

TEST(Text, OpaqueBackgroundFillsTheCellsAndTransparentLeavesThem) {
    Canvas canvas(0xFF000000);
    SelectObject(canvas.dc, captionFont());
    SetTextColor(canvas.dc, RGB(0, 0, 255));
    TextOutA(canvas.dc, 10, 20, "Hi", 2);
    // White cells behind the text from (10, 20), 25 rows high; black elsewhere.
    EXPECT_EQ(canvas.at(10, 20), 0xFFFFFFu);
    EXPECT_EQ(canvas.at(9, 20), 0u);
    EXPECT_EQ(canvas.at(10, 19), 0u);
    EXPECT_EQ(canvas.at(10, 45), 0u);

    Canvas clear(0xFF000000);
    SelectObject(clear.dc, captionFont());
    EXPECT_EQ(SetBkMode(clear.dc, TRANSPARENT), OPAQUE);
    SetTextColor(clear.dc, RGB(255, 255, 255));
    TextOutA(clear.dc, 0, 0, "Hi", 2);
    EXPECT_EQ(clear.at(0, 0), 0u);
}

TEST(Text, LongTextIsCutAtTheSurfaceEdge) {
    Canvas canvas;
    SelectObject(canvas.dc, captionFont());
    const char* text = "Special Thanks to a very long line of text that runs off";
    EXPECT_TRUE(TextOutA(canvas.dc, 0, 0, text, 56));
    EXPECT_TRUE(TextOutA(canvas.dc, 250, 250, text, 56));
    EXPECT_TRUE(TextOutA(canvas.dc, -40, -10, text, 56));
}

TEST(Text, RefusesWhatItCannotDraw) {
    EXPECT_EQ(CreateFontA(25, 0, 900, 0, FW_NORMAL, 0, 0, 0, 1, 0, 0, 4, 2, nullptr), nullptr);
    EXPECT_EQ(CreateFontA(25, 0, 0, 0, FW_NORMAL, 0, TRUE, 0, 1, 0, 0, 4, 2, nullptr), nullptr);
    EXPECT_FALSE(TextOutA(nullptr, 0, 0, "x", 1));
    EXPECT_EQ(SelectObject(nullptr, captionFont()), nullptr);
    EXPECT_EQ(SetTextColor(nullptr, 0), CLR_INVALID);
}

TEST(Text, TheDefaultFontDrawsWithoutAnySelection) {
    Canvas canvas;
    EXPECT_TRUE(TextOutA(canvas.dc, 0, 0, "ok", 2));
    int right = 0, bottom = 0;
    canvas.inkBounds(right, bottom);
    EXPECT_GE(right, 0);
}

} // namespace
} // namespace tessivane::platform
