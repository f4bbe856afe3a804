#include "platform/video_writer.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace tessivane::platform {
namespace {

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Probes one value of a stream with ffprobe; empty when ffprobe is not installed.
std::string probe(const std::string& path, const char* stream, const char* entry) {
    const std::string command = "ffprobe -v error -select_streams " + std::string(stream) +
                                " -show_entries stream=" + entry +
                                " -of default=noprint_wrappers=1:nokey=1 '" + path +
                                "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::string value = read ? line : "";
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return value;
}

TEST(VideoWriter, WritesPictureAndSoundOfTheSameLength) {
    const std::string path = ::testing::TempDir() + "writer-" + std::to_string(getpid()) + ".mp4";
    std::string error;
    auto writer = VideoWriter::open(path, 64, 48, 60, 44100, error);
    ASSERT_NE(writer, nullptr) << error;
    std::vector<std::uint32_t> frame(64 * 48);
    // Two seconds: a frame every other refresh, and a 440 Hz tone in odd-sized pieces.
    for (int tick = 0; tick < 120; tick += 2) {
        for (auto& p : frame) {
            p = 0xFF000000u | static_cast<std::uint32_t>(tick * 2);
        }
        ASSERT_TRUE(writer->writeFrame(frame.data(), tick, error)) << error;
    }
    std::vector<std::int16_t> tone(2 * 88200);
    for (std::size_t i = 0; i < tone.size() / 2; ++i) {
        tone[2 * i] = tone[2 * i + 1] =
            static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / 44100.0));
    }
    for (std::size_t at = 0; at < tone.size() / 2; at += 777) {
        const int frames = static_cast<int>(std::min<std::size_t>(777, tone.size() / 2 - at));
        ASSERT_TRUE(writer->writeAudio(&tone[2 * at], frames, error)) << error;
    }
    EXPECT_FALSE(exists(path)); // not before it is complete
    ASSERT_TRUE(writer->finish(error)) << error;
    writer.reset();
    ASSERT_TRUE(exists(path));
    EXPECT_FALSE(exists(path + ".partial"));
    const std::string video = probe(path, "v:0", "codec_name");
    if (!video.empty()) {
        EXPECT_EQ(video, "h264");
        EXPECT_EQ(probe(path, "a:0", "codec_name"), "aac");
        EXPECT_NEAR(std::stod(probe(path, "v:0", "duration")), 2.0, 0.05);
        EXPECT_NEAR(std::stod(probe(path, "a:0", "duration")), 2.0, 0.05);
    }
    std::remove(path.c_str());
}

TEST(VideoWriter, AnUnwritablePathSaysSoAndLeavesNothing) {
    std::string error;
    auto writer = VideoWriter::open("/nonexistent-dir/show.mp4", 64, 48, 60, 44100, error);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(error.rfind("cannot write /nonexistent-dir/show.mp4: ", 0), 0u) << error;
}

TEST(VideoWriter, AnUnfinishedFileIsRemoved) {
    const std::string path =
        ::testing::TempDir() + "unfinished-" + std::to_string(getpid()) + ".mp4";
    std::string error;
    {
        auto writer = VideoWriter::open(path, 64, 48, 60, 44100, error);
        ASSERT_NE(writer, nullptr) << error;
        std::vector<std::uint32_t> frame(64 * 48, 0);
        ASSERT_TRUE(writer->writeFrame(frame.data(), 0, error));
    }
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(path + ".partial"));
}

// Frames are encoded and written while the next ones are drawn; a write that fails there (a
// full disk) must still stop the writing with its reason and leave no file behind.
TEST(VideoWriter, AFailedWriteBehindTheCallerSaysWhyAndLeavesNothing) {
    const std::string path = ::testing::TempDir() + "full-" + std::to_string(getpid()) + ".mp4";
    // Files this process writes may grow to 64 KB: past that, writes fail as on a full disk.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string error;
    bool writing = true;
    int framesWritten = 0;
    {
        auto writer = VideoWriter::open(path, 320, 240, 60, 44100, error);
        ASSERT_NE(writer, nullptr) << error;
        // Noise, with its sound: every frame codes to many kilobytes.
        std::vector<std::uint32_t> frame(320 * 240);
        std::vector<std::int16_t> sound(2 * 735);
        std::uint32_t seed = 1;
        for (int tick = 0; tick < 600 && writing; ++tick) {
            for (auto& p : frame) {
                seed = seed * 1664525u + 1013904223u;
                p = seed;
            }
            for (auto& s : sound) {
                s = static_cast<std::int16_t>(seed >>= 1);
            }
            writing = writer->writeFrame(frame.data(), tick, error) &&
                      writer->writeAudio(sound.data(), 735, error);
            framesWritten += writing ? 1 : 0;
        }
    }
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(writing); // a frame written later already says so
    EXPECT_LT(framesWritten, 300);
    EXPECT_EQ(error.rfind("cannot write " + path + ": ", 0), 0u) << error;
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(path + ".partial"));
}

} // namespace
} // namespace tessivane::platform
