#include "platform/yuv_picture.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace tessivane::platform {
namespace {

// A converted picture with a margin after each row of every plane, to see what is written
// past the rows.
struct Converted {
    static constexpr int MARGIN = 5;
    static constexpr std::uint8_t UNTOUCHED = 0xA5;

    Converted(int width, int height)
        : width(width), height(height), chromaWidth((width + 1) / 2),
          chromaHeight((height + 1) / 2),
          y(static_cast<std::size_t>(width + MARGIN) * height, UNTOUCHED),
          cb(static_cast<std::size_t>(chromaWidth + MARGIN) * chromaHeight, UNTOUCHED), cr(cb) {}

    Yuv420Planes planes() {
        return Yuv420Planes{y.data(),
                            cb.data(),
                            cr.data(),
                            width + MARGIN,
                            chromaWidth + MARGIN,
                            chromaWidth + MARGIN};
    }
    std::uint8_t lumaAt(int x, int row) const { return y[row * (width + MARGIN) + x]; }
    std::uint8_t cbAt(int x, int row) const { return cb[row * (chromaWidth + MARGIN) + x]; }
    std::uint8_t crAt(int x, int row) const { return cr[row * (chromaWidth + MARGIN) + x]; }

    // Whether every margin byte is as it was.
    bool marginsUntouched() const {
        auto untouched = [](const std::vector<std::uint8_t>& plane, int w, int h) {
            for (int row = 0; row < h; ++row) {
                for (int i = 0; i < MARGIN; ++i) {
                    if (plane[row * (w + MARGIN) + w + i] != UNTOUCHED) {
                        return false;
                    }
                }
            }
            return true;
        };
        return untouched(y, width, height) && untouched(cb, chromaWidth, chromaHeight) &&
               untouched(cr, chromaWidth, chromaHeight);
    }

    int width, height, chromaWidth, chromaHeight;
    std::vector<std::uint8_t> y, cb, cr;
};

std::uint32_t rgb(int r, int g, int b) {
    return 0xFF000000u | static_cast<std::uint32_t>(r << 16 | g << 8 | b);
}

TEST(YuvPicture, GivesTheStudioRangeValuesOfTheBt601Weights) {
    struct Case {
        std::uint32_t pixel;
        int y, cb, cr;
    };
    // 16 + 219·Y', 128 + 224·(B' − Y')/1.772 and 128 + 224·(R' − Y')/1.402, rounded.
    const Case cases[] = {
        {rgb(0, 0, 0), 16, 128, 128},        {rgb(255, 255, 255), 235, 128, 128},
        {rgb(128, 128, 128), 126, 128, 128}, {rgb(255, 0, 0), 81, 90, 240},
        {rgb(0, 255, 0), 145, 54, 34},       {rgb(0, 0, 255), 41, 240, 110},
        {rgb(255, 255, 0), 210, 16, 146},    {rgb(0, 255, 255), 170, 166, 16},
        {rgb(255, 0, 255), 106, 202, 222},
    };
    for (const Case& c : cases) {
        // The unused byte is read nowhere: the same colour with it clear.
        for (const std::uint32_t pixel : {c.pixel, c.pixel & 0x00FFFFFFu}) {
            // Wide enough for sixteen-pixel steps and the pixels after them.
            const std::vector<std::uint32_t> pixels(40 * 2, pixel);
            for (const bool plain : {false, true}) {
                Converted out(40, 2);
                (plain ? toYuv420Plain : toYuv420)(pixels.data(), 40, 2, 40, out.planes());
                for (int x : {0, 15, 16, 39}) {
                    EXPECT_EQ(out.lumaAt(x, 0), c.y) << std::hex << pixel << " at " << x;
                    EXPECT_EQ(out.lumaAt(x, 1), c.y) << std::hex << pixel << " at " << x;
                }
                for (int x : {0, 7, 8, 19}) {
                    EXPECT_EQ(out.cbAt(x, 0), c.cb) << std::hex << pixel << " at " << x;
                    EXPECT_EQ(out.crAt(x, 0), c.cr) << std::hex << pixel << " at " << x;
                }
            }
        }
    }
}

TEST(YuvPicture, TakesChromaFromTheMeanOfEachBlock) {
    // Blocks of 2x2 pixels: red at one corner and black at three; then black and white in
    // a chequer; then an odd column and row, which stand for the missing ones.
    const int width = 37, height = 3;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, rgb(0, 0, 0));
    auto at = [&](int x, int y) -> std::uint32_t& { return pixels[y * width + x]; };
    for (int x = 0; x < 16; x += 2) {
        at(x + (x / 2 % 2), (x / 4) % 2) = rgb(255, 0, 0); // each corner in turn
    }
    for (int x = 16; x < 32; ++x) {
        at(x, 0) = (x % 2 == 0) ? rgb(255, 255, 255) : rgb(0, 0, 0);
        at(x, 1) = (x % 2 == 1) ? rgb(255, 255, 255) : rgb(0, 0, 0);
    }
    at(36, 0) = rgb(0, 0, 255);
    at(36, 1) = rgb(0, 0, 255);
    at(0, 2) = rgb(255, 0, 0);
    at(1, 2) = rgb(255, 0, 0);
    for (const bool plain : {false, true}) {
        Converted out(width, height);
        (plain ? toYuv420Plain : toYuv420)(pixels.data(), width, height, width, out.planes());
        // A quarter of red: 128 − 224·0.168736·0.25 and 128 + 224·0.5·0.25, rounded.
        for (int block = 0; block < 8; ++block) {
            EXPECT_EQ(out.cbAt(block, 0), 119) << block;
            EXPECT_EQ(out.crAt(block, 0), 156) << block;
        }
        // Half white: grey.
        for (int block = 8; block < 16; ++block) {
            EXPECT_EQ(out.cbAt(block, 0), 128) << block;
            EXPECT_EQ(out.crAt(block, 0), 128) << block;
            EXPECT_EQ(out.lumaAt(2 * block, 0), 235);
            EXPECT_EQ(out.lumaAt(2 * block, 1), 16);
        }
        // The last column alone is all blue; the last row alone half red (as if doubled).
        EXPECT_EQ(out.cbAt(18, 0), 240);
        EXPECT_EQ(out.crAt(18, 0), 110);
        EXPECT_EQ(out.lumaAt(36, 1), 41);
        EXPECT_EQ(out.cbAt(0, 1), 90);
        EXPECT_EQ(out.crAt(0, 1), 240);
        EXPECT_EQ(out.cbAt(1, 1), 128);
        EXPECT_EQ(out.lumaAt(36, 2), 16);
        EXPECT_TRUE(out.marginsUntouched());
    }
}

TEST(YuvPicture, VectorStepsGiveThePlainBytesAtAnySize) {
    std::mt19937 random(7);
    for (const auto& [width, height] :
         {std::pair{640, 480}, std::pair{48, 6}, std::pair{31, 9}, std::pair{17, 4},
          std::pair{16, 2}, std::pair{15, 1}, std::pair{1, 1}, std::pair{33, 5}}) {
        // Rows a few words longer than the picture, their ends not read.
        const int pitch = width + 3;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(pitch) * height);
        for (std::uint32_t& p : pixels) {
            p = random();
        }
        Converted wide(width, height), plain(width, height);
        toYuv420(pixels.data(), width, height, pitch, wide.planes());
        toYuv420Plain(pixels.data(), width, height, pitch, plain.planes());
        EXPECT_EQ(wide.y, plain.y) << width << "x" << height;
        EXPECT_EQ(wide.cb, plain.cb) << width << "x" << height;
        EXPECT_EQ(wide.cr, plain.cr) << width << "x" << height;
        EXPECT_TRUE(wide.marginsUntouched()) << width << "x" << height;
        for (const std::uint8_t v : wide.y) {
            ASSERT_TRUE(v >= 16 && v <= 235);
        }
    }
}

} // namespace
} // namespace tessivane::platform
