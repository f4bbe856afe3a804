// The tessivane program as a user runs it.
#include "e2e/png_image.h"
#include "spawn.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tessivane::e2e::Outcome;

Outcome run(std::vector<std::string> args, std::vector<std::string> env = {},
            double terminateAfter = 0.0) {
    return tessivane::e2e::spawn(TESSIVANE_PROGRAM, std::move(args), std::move(env),
                                 terminateAfter);
}

// The elapsed time of a "timeline: EVENT at N ms" line.
unsigned eventTime(const std::string& err, const std::string& event) {
    const std::string prefix = "timeline: " + event + " at ";
    const std::size_t at = err.find(prefix);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no '" << event << "' in:\n" << err;
        return 0;
    }
    const std::size_t digits = at + prefix.size();
    const std::size_t end = err.find(" ms\n", digits);
    EXPECT_NE(end, std::string::npos);
    return static_cast<unsigned>(std::stoul(err.substr(digits, end - digits)));
}

TEST(Program, HeadlessRunsTheWholeTimelineOnTheVirtualClock) {
#if TESSIVANE_SANITIZED
    GTEST_SKIP() << "the 60 Hz show runs in the release build; this build runs it at 5 Hz";
#endif
    const Outcome o = run({"--headless", "--verbose"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: device attempt 3 (reference device) succeeded"),
              std::string::npos)
        << o.err;
    // The music plays into the null device, which follows the virtual clock.
    EXPECT_NE(o.err.find("start-up: music started"), std::string::npos) << o.err;
    // At 60 Hz drawn frames come every 34 ms, so each event lands on the first multiple
    // of 34 past its time.
    EXPECT_EQ(eventTime(o.err, "scene 1"), 48008u);
    EXPECT_EQ(eventTime(o.err, "scene 2"), 62084u);
    EXPECT_EQ(eventTime(o.err, "recycling ends"), 90032u);
    EXPECT_EQ(eventTime(o.err, "quit"), 96016u);
    EXPECT_TRUE(o.out.empty());
}

// A slow display draws fewer frames, which also makes this the quick whole-show run (the one
// the sanitizer build makes).
TEST(Program, ModelledRefreshRateShapesTheTimeline) {
    const Outcome o = run({"--headless", "--verbose", "--refresh", "5"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: music started"), std::string::npos) << o.err;
    EXPECT_EQ(eventTime(o.err, "scene 2"), 62200u);
    const unsigned quit = eventTime(o.err, "quit");
    EXPECT_GT(quit, 96000u);
    EXPECT_LE(quit, 96000u + 200u); // one 5 Hz period
    EXPECT_TRUE(o.out.empty());
}

// Every drawn frame of a whole show, as bytes: the same in two runs and whatever the number
// of render threads. A 1 Hz display keeps it quick while still drawing every scene.
TEST(Program, EveryFrameIsTheSameInEveryRunAndWithAnyThreadCount) {
    const std::vector<std::string> args = {"--headless", "--refresh", "1", "--frame-hashes"};
    const Outcome first = run(args);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const Outcome second = run(args);
    std::vector<std::string> oneThread = args;
    oneThread.insert(oneThread.end(), {"--render-threads", "1"});
    const Outcome single = run(oneThread);
    std::vector<std::string> threeThreads = args;
    threeThreads.insert(threeThreads.end(), {"--render-threads", "3"});
    const Outcome three = run(threeThreads);
    // One line per frame, frames of all three scenes among them.
    std::istringstream lines(first.out);
    std::string line;
    int frames = 0;
    unsigned last = 0;
    while (std::getline(lines, line)) {
        unsigned ms = 0;
        unsigned long long hash = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%u %llx", &ms, &hash), 2) << line;
        ++frames;
        last = ms;
    }
    EXPECT_GT(frames, 90);
    EXPECT_GT(last, 96000u);
    EXPECT_TRUE(second.out == first.out) << "a second run drew other bytes";
    EXPECT_TRUE(single.out == first.out) << "one render thread drew other bytes";
    EXPECT_TRUE(three.out == first.out) << "three render threads drew other bytes";
}

TEST(Program, WithoutVerboseASuccessfulRunPrintsNothing) {
    const Outcome o = run({"--headless", "--refresh", "1"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.err, "");
}

TEST(Program, HelpVersionAndBadUsage) {
    Outcome o = run({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out.rfind("usage: tessivane", 0), 0u);
    o = run({"--version"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "tessivane " TESSIVANE_VERSION "\n");
    o = run({"--no-such-option"});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("unknown option '--no-such-option'"), std::string::npos);
    EXPECT_NE(o.err.find("usage: tessivane"), std::string::npos);
    o = run({"--refresh", "0"});
    EXPECT_EQ(o.exitCode, 2);
}

TEST(Program, FailuresSayWhatFailedAndExitOne) {
    Outcome o = run({"--headless", "--device", "hal"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: start-up failed: no 3D device could be created", 0), 0u)
        << o.err;
    o = run({"--window", "--mute"}, {"SDL_VIDEODRIVER=no-such-driver"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: start-up failed: no display", 0), 0u) << o.err;
}

TEST(Program, WithoutAWindowSystemTheShowSaysSoInsteadOfPlayingUnseen) {
    // Where a console could be driven directly, SDL would take it over instead.
    if (std::filesystem::exists("/dev/dri")) {
        GTEST_SKIP() << "this machine has a graphics device SDL could draw on directly";
    }
    // Nothing names a driver and no window system answers: SDL falls back to drivers that
    // show nothing.
    const Outcome o =
        run({"--mute"},
            {"SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=/nonexistent"});
    EXPECT_EQ(o.exitCode, 1) << o.err;
    EXPECT_NE(o.err.find("tessivane: start-up failed: no display: no window system answers"),
              std::string::npos)
        << o.err;
}

TEST(Program, WithoutAUsableFontTheTextFallsBackAndSaysSoOnce) {
    const std::string path = tessivane::e2e::temporaryPath("nofont.png");
    const Outcome o = run({"--screenshot", "10", path}, {"FONTCONFIG_FILE=" TESSIVANE_NO_FONTS});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.err, "tessivane: no usable font (fontconfig finds no scalable font): text is "
                     "drawn in the built-in font\n");
    EXPECT_TRUE(std::filesystem::exists(path));
    std::remove(path.c_str());
}

TEST(Program, WithoutASoundDeviceTheShowSaysSoOnceAndPlaysOn) {
    const Outcome o = run({"--window", "--verbose"},
                          {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=no-such-driver"}, 1.5);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    const std::string message = "tessivane: no sound device: playing without music";
    const std::size_t at = o.err.find(message);
    EXPECT_NE(at, std::string::npos) << o.err;
    EXPECT_EQ(o.err.find(message, at + 1), std::string::npos) << "said twice:\n" << o.err;
    EXPECT_NE(o.err.find("start-up: window shown"), std::string::npos) << o.err;
}

TEST(Program, WithASoundDeviceTheMusicPlays) {
    const Outcome o =
        run({"--window", "--verbose"}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, 1.5);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: music started"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("no sound device"), std::string::npos) << o.err;
    // The ring holds two seconds: nothing can have broken up in the second and a half.
    EXPECT_NE(o.err.find("shutdown: sound underruns: 0\n"), std::string::npos) << o.err;
    // Asked to stop, it ends at once: the music stops within a few milliseconds.
    EXPECT_LT(o.seconds, 10.0);
}

TEST(Program, WindowedShowEndsCleanlyWhenAskedToStop) {
    // The dummy video driver gives a real window-system path without a screen; a
    // termination request arrives as the window system's quit.
    const Outcome o = run({"--window", "--mute", "--verbose"},
                          {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, 1.5);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: window shown"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("timeline:"), std::string::npos) << o.err;
}

TEST(Program, ScreenshotOfSceneZeroShowsWhatAViewerSees) {
    const std::string path = tessivane::e2e::temporaryPath("scene0.png");
    const Outcome o = run({"--screenshot", "20", path});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    tessivane::testing::Picture shot;
    ASSERT_TRUE(tessivane::testing::readPng(path, shot));
    std::remove(path.c_str());
    ASSERT_EQ(shot.width, 640);
    ASSERT_EQ(shot.height, 480);
    auto share = [&](int x0, int y0, int x1, int y1, auto predicate) {
        int hits = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                hits += predicate(shot.at(x, y));
            }
        }
        return static_cast<double>(hits) / ((x1 - x0) * (y1 - y0));
    };
    const auto grey = [](std::uint32_t p) { return p == 0x777777; };
    // Left of the title, only the clear grey and a sprinkle of dust.
    EXPECT_GT(share(0, 0, 90, 480, grey), 0.8);
    // The portrait has emerged in the bottom-right 256x256: its dark parts are black.
    EXPECT_GT(share(384, 224, 640, 480, [](std::uint32_t p) { return p == 0; }), 0.3);
    EXPECT_EQ(share(384, 224, 404, 244, [](std::uint32_t p) { return p == 0; }), 0.0);
    // The title's solid letters keep only the scene's red channel, near the quad's corner.
    EXPECT_GT(share(100, 200, 260, 226, [](std::uint32_t p) { return p == 0x770000; }), 0.01);
    EXPECT_GT(share(100, 200, 260, 226, grey), 0.5);
}

// The share of a screenshot's pixels that satisfy a predicate.
template <class Predicate>
double shareOf(const tessivane::testing::Picture& shot, Predicate predicate) {
    int hits = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            hits += predicate(shot.at(x, y));
        }
    }
    return static_cast<double>(hits) / (shot.width * shot.height);
}

tessivane::testing::Picture screenshotAt(const char* seconds) {
    const std::string path = tessivane::e2e::temporaryPath("scene.png");
    const Outcome o = run({"--screenshot", seconds, path});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    tessivane::testing::Picture shot;
    EXPECT_TRUE(tessivane::testing::readPng(path, shot));
    std::remove(path.c_str());
    EXPECT_EQ(shot.width, 640);
    EXPECT_EQ(shot.height, 480);
    return shot;
}

std::uint32_t channel(std::uint32_t p, int shift) {
    return (p >> shift) & 0xFF;
}

TEST(Program, ScreenshotOfSceneOneShowsTheGlowingBlob) {
    const tessivane::testing::Picture shot = screenshotAt("58");
    ASSERT_FALSE(shot.rgb.empty());
    // Black around it, a white-hot blob, and glare that is neither.
    EXPECT_EQ(shot.at(0, 0), 0u);
    EXPECT_EQ(shot.at(639, 479), 0u);
    EXPECT_GT(shareOf(shot, [](std::uint32_t p) { return p == 0; }), 0.3);
    const double white = shareOf(shot, [](std::uint32_t p) { return p == 0xFFFFFF; });
    EXPECT_GT(white, 0.03);
    EXPECT_LT(white, 0.5);
    EXPECT_GT(shareOf(shot,
                      [](std::uint32_t p) { return p != 0 && channel(p, 16) < 0x80; }),
              0.05);
}

TEST(Program, ScreenshotOfSceneTwoShowsTheTubeTrees) {
    const tessivane::testing::Picture shot = screenshotAt("63.5");
    ASSERT_FALSE(shot.rgb.empty());
    // Tubes add magenta and blue onto black, up to white where many cross; green leads only
    // in the faint dark green of the gradient's first texel, on a few back faces.
    EXPECT_GT(shareOf(shot, [](std::uint32_t p) { return p == 0; }), 0.2);
    EXPECT_GT(shareOf(shot,
                      [](std::uint32_t p) {
                          return channel(p, 0) > channel(p, 8) + 0x20 &&
                                 channel(p, 16) > channel(p, 8) + 0x20;
                      }),
              0.1);
    EXPECT_LT(shareOf(shot,
                      [](std::uint32_t p) {
                          return channel(p, 8) > channel(p, 0) && channel(p, 8) > channel(p, 16);
                      }),
              0.01);
}

TEST(Program, ScreenshotFailuresSayWhy) {
    Outcome o = run({"--screenshot", "1", "/nonexistent-dir/shot.png"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: cannot write /nonexistent-dir/shot.png", 0), 0u) << o.err;
    o = run({"--screenshot", "100", "x.png"});
    EXPECT_EQ(o.exitCode, 2);
}

TEST(Program, BenchmarkPrintsOneLinePerScene) {
    const Outcome o = run({"--benchmark", "--benchmark-frames", "20"});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    std::istringstream lines(o.out);
    std::string line;
    for (int scene = 0; scene < 3; ++scene) {
        ASSERT_TRUE(std::getline(lines, line));
        int n = -1, frames = 0, used = 0;
        double median = 0, p95 = 0, max = 0;
        ASSERT_EQ(std::sscanf(line.c_str(),
                              "scene %d: %d frames, median %lf ms, p95 %lf ms, max %lf ms%n", &n,
                              &frames, &median, &p95, &max, &used),
                  5)
            << line;
        EXPECT_EQ(used, static_cast<int>(line.size())) << line;
        EXPECT_EQ(n, scene);
        EXPECT_EQ(frames, 20);
        EXPECT_LE(median, p95);
        EXPECT_LE(p95, max);
        // Two decimals, as printed.
        EXPECT_NE(line.find(" ms, p95 "), std::string::npos);
    }
    ASSERT_TRUE(std::getline(lines, line));
    double speed = 0;
    int used = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "audio: %lf x real time%n", &speed, &used), 1) << line;
    EXPECT_EQ(used, static_cast<int>(line.size())) << line;
    EXPECT_GT(speed, 1.0);
    EXPECT_FALSE(std::getline(lines, line));
}

// One value of a stream of a media file, by ffprobe; empty when ffprobe is not installed.
std::string probe(const std::string& path, const char* stream, const char* entry) {
    const std::string command = "ffprobe -v error -select_streams " + std::string(stream) +
                                " -show_entries stream=" + entry +
                                " -of default=noprint_wrappers=1:nokey=1 '" + path +
                                "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    char text[128] = {};
    const bool read = pipe != nullptr && std::fgets(text, sizeof text, pipe) != nullptr;
    if (pipe != nullptr) {
        pclose(pipe);
    }
    std::string value = read ? text : "";
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
        value.pop_back();
    }
    return value;
}

TEST(Program, CaptureWritesPictureAndMusicInStep) {
    const std::string path = tessivane::e2e::temporaryPath("capture.mp4");
    const Outcome o = run({"--capture", path, "--capture-seconds", "3"});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("capturing ["), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("the show is captured in " + path), std::string::npos) << o.err;
    const std::string video = probe(path, "v:0", "codec_name");
    if (video.empty()) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    EXPECT_EQ(video, "h264");
    EXPECT_EQ(probe(path, "a:0", "codec_name"), "aac");
    EXPECT_EQ(probe(path, "v:0", "width"), "640");
    const double pictureSeconds = std::stod(probe(path, "v:0", "duration"));
    const double musicSeconds = std::stod(probe(path, "a:0", "duration"));
    EXPECT_NEAR(pictureSeconds, 3.0, 0.1);
    // In step to within one drawn frame.
    EXPECT_NEAR(musicSeconds, pictureSeconds, 0.034 + 0.05);
    std::remove(path.c_str());
}

TEST(Program, ACaptureThatCannotBeWrittenSaysSoAndLeavesNothing) {
    const Outcome o = run({"--capture", "/nonexistent-dir/show.mp4"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: cannot write /nonexistent-dir/show.mp4: ", 0), 0u) << o.err;
    EXPECT_EQ(o.err.find("capturing"), std::string::npos) << o.err;
}

} // namespace
