// The fuzzer's seeds are modules the loader takes: mutations start from valid files.
#include "module_test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace tessivane::music::test {
namespace {

TEST(FuzzSeeds, AllLoad) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TESSIVANE_FUZZ_SEEDS_DIR)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        EXPECT_NE(load(bytes), nullptr) << entry.path() << ": " << lastModuleError();
        ++seeds;
    }
    EXPECT_GE(seeds, 3);
}

} // namespace
} // namespace tessivane::music::test
