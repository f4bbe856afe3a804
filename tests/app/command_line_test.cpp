#include "app/command_line.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessivane::app {
namespace {

ParsedCommandLine parse(std::vector<const char*> words) {
    words.insert(words.begin(), "tessivane");
    return parseCommandLine(static_cast<int>(words.size()), words.data());
}

TEST(CommandLine, DefaultsPlayFullscreenWithEverything) {
    const auto p = parse({});
    ASSERT_TRUE(p.error.empty());
    EXPECT_FALSE(p.options.window);
    EXPECT_FALSE(p.options.headless);
    EXPECT_EQ(p.options.device, platform::DeviceChoice::Auto);
    EXPECT_EQ(p.options.refreshHz, 60u);
}

TEST(CommandLine, ReadsEveryOptionInEitherValueForm) {
    const auto p = parse({"--window", "--mute", "--verbose", "--device", "ref", "--refresh=75"});
    ASSERT_TRUE(p.error.empty()) << p.error;
    EXPECT_TRUE(p.options.window);
    EXPECT_TRUE(p.options.mute);
    EXPECT_TRUE(p.options.verbose);
    EXPECT_EQ(p.options.device, platform::DeviceChoice::Reference);
    EXPECT_EQ(p.options.refreshHz, 75u);

    const auto s = parse({"--headless", "--screenshot", "50.5", "out.png", "--device=hal"});
    ASSERT_TRUE(s.error.empty()) << s.error;
    EXPECT_TRUE(s.options.screenshot);
    EXPECT_DOUBLE_EQ(s.options.screenshotSeconds, 50.5);
    EXPECT_EQ(s.options.screenshotFile, "out.png");
    EXPECT_EQ(s.options.device, platform::DeviceChoice::Hardware);

    EXPECT_EQ(parse({"--capture", "show.mp4"}).options.captureFile, "show.mp4");
    EXPECT_TRUE(parse({"--benchmark"}).options.benchmark);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    const auto t = parse(
        {"--headless", "--frame-hashes", "--render-threads", "3", "--benchmark-frames", "7"});
    ASSERT_TRUE(t.error.empty()) << t.error;
    EXPECT_TRUE(t.options.frameHashes);
    EXPECT_EQ(t.options.renderThreads, 3u);
    EXPECT_EQ(t.options.benchmarkFrames, 7u);
}

TEST(CommandLine, RejectsWhatItCannotUse) {
    for (const auto& words : std::vector<std::vector<const char*>>{
             {"--bogus"},
             {"play"},
             {"--device"},
             {"--device", "gpu"},
             {"--refresh", "0"},
             {"--refresh", "1001"},
             {"--refresh", "60hz"},
             {"--refresh", "-5"},
             {"--screenshot", "10"},
             {"--screenshot", "97", "a.png"},
             {"--screenshot", "-1", "a.png"},
             {"--screenshot", "nan", "a.png"},
             {"--capture"},
             {"--render-threads", "0"},
             {"--render-threads", "65"},
             {"--benchmark-frames", "0"},
             {"--window=yes"},
             {"--window", "--headless"},
         }) {
        EXPECT_FALSE(parse(words).error.empty()) << words[0];
    }
}

} // namespace
} // namespace tessivane::app
