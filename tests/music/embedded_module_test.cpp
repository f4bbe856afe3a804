// The module the program carries: embedded, loaded through the resource stream, and the
// same bytes as a fresh run of its generator.
#include "composer.h"
#include "module_test_support.h"
#include "music/stream.h"
#include "platform/platform.h"
#include "platform/resource.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace tessivane::music::test {
namespace {

Bytes embeddedBytes() {
    using namespace platform;
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(MODULE_RESOURCE_ID), "XM");
    EXPECT_NE(resource, nullptr) << lastPlatformError();
    const auto* data =
        static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    return Bytes(data, data + SizeofResource(nullptr, resource));
}

TEST(EmbeddedModule, LoadsThroughTheResourceStream) {
    const StreamCallbacks earlier = registeredStreamCallbacks();
    useResourceStreams();
    ModulePtr module(loadModule(moduleResourceName()));
    setStreamCallbacks(earlier.open, earlier.close, earlier.read, earlier.seek, earlier.tell);
    ASSERT_NE(module, nullptr) << lastModuleError();

    EXPECT_EQ(module->channelCount, 8);
    EXPECT_EQ(module->flags & FLAG_LINEAR_FREQUENCIES, FLAG_LINEAR_FREQUENCIES);
    EXPECT_EQ(module->defaultSpeed, 6);
    EXPECT_EQ(module->defaultBpm, 200);
    EXPECT_EQ(module->restartPosition, 0);
    EXPECT_EQ(module->songLength, 20);
    EXPECT_EQ(module->patternSlotCount, 14);
    EXPECT_EQ(module->instrumentCount, 8);
    // Only the volume column's set-volume range, and no effects.
    for (int p = 0; p < module->patternSlotCount; ++p) {
        const Pattern& pattern = module->patterns[p];
        EXPECT_EQ(pattern.rowCount, 64);
        for (int c = 0; c < pattern.rowCount * module->channelCount; ++c) {
            const PatternCell& cell = pattern.cells[c];
            ASSERT_TRUE(cell.volume == 0 || (cell.volume >= 0x10 && cell.volume <= 0x50));
            ASSERT_EQ(cell.effect | cell.parameter, 0);
            ASSERT_LE(cell.instrument, module->instrumentCount);
        }
    }
    // Every loop mode is there.
    int modes = 0;
    for (int i = 0; i < module->instrumentCount; ++i) {
        for (int s = 0; s < module->instruments[i].sampleCount; ++s) {
            modes |= module->instruments[i].samples[s]->loopMode;
        }
    }
    EXPECT_EQ(modes, LOOP_NONE | LOOP_FORWARD | LOOP_PING_PONG);
}

TEST(EmbeddedModule, IsTheCommittedAssetAndWhatItsGeneratorWrites) {
    std::ifstream file(TESSIVANE_ASSETS_DIR "/music.xm", std::ios::binary);
    ASSERT_TRUE(file) << "cannot read assets/music.xm";
    const Bytes committed{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(embeddedBytes(), committed);

    Bytes fresh;
    std::string error;
    ASSERT_TRUE(composer::composeModuleFile(fresh, error)) << error;
    EXPECT_EQ(fresh, committed) << "assets/music.xm is stale: run compose_music assets/music.xm";
}

} // namespace
} // namespace tessivane::music::test
