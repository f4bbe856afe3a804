// The stored picture is what its generator draws.
#include "picture/portrait.h"

#include <bit>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

namespace {

TEST(StoredPicture, RegeneratingGivesTheCommittedBytes) {
    std::ifstream in(TESSIVANE_PICTURE, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << TESSIVANE_PICTURE;
    const std::vector<std::uint8_t> stored((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    const auto drawn = tessivane::tools::drawPortrait();
    ASSERT_EQ(stored.size(), drawn.size());
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), drawn.begin()))
        << "assets/picture.bin is not what make_picture writes; run it again";
}

TEST(StoredPicture, IsHighContrastWithRoomForBoth) {
    const auto drawn = tessivane::tools::drawPortrait();
    int white = 0;
    for (const std::uint8_t byte : drawn) {
        white += std::popcount(byte);
    }
    const double share = white / (256.0 * 256.0);
    EXPECT_GT(share, 0.2);
    EXPECT_LT(share, 0.8);
}

} // namespace
