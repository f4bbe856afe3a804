// tessivane-xm as a user runs it: facts, rendering, tracing, playing, and its failures.
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "spawn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tessivane::e2e {
namespace {

Outcome xm(std::vector<std::string> args, std::vector<std::string> env = {},
           double terminateAfter = 0.0) {
    return spawn(TESSIVANE_XM_PLAYER, std::move(args), std::move(env), terminateAfter);
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

// A short song written as an XM file: two orders of four rows on two channels, speed 6,
// 125 BPM (882 frames a tick, 5292 a row), a looping sample playing on every row.
class XmPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        music::Module* module = music::createModule(2, 2, 4, 1);
        ASSERT_TRUE(music::setOrders(*module, {0, 1}));
        music::Sample* sample = music::addSample(module->instruments[0], 400);
        for (std::uint32_t i = 0; i < 400; ++i) {
            sample->data[i] = static_cast<std::int16_t>(i % 100 * 300 - 15000);
        }
        sample->loopMode = music::LOOP_FORWARD;
        for (int p = 0; p < 2; ++p) {
            for (int row = 0; row < 4; ++row) {
                music::cellAt(*module, p, row, row % 2) = {
                    static_cast<std::uint8_t>(49 + row + 5 * p), 1, 0x40, 0, 0};
            }
        }
        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(music::writeModule(*module, bytes, error)) << error;
        music::freeModule(module);
        std::ofstream(song, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void TearDown() override {
        std::remove(song.c_str());
        std::remove(wav.c_str());
    }

    const std::string song = temporaryPath("song.xm");
    const std::string wav = temporaryPath("out.wav");
};

TEST_F(XmPlayerTest, InfoPrintsTheFactsAndTheLengthUntilTheSongRepeats) {
    const Outcome o = xm({song, "--info"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, "channels: 2\n"
                     "patterns: 2\n"
                     "instruments: 1\n"
                     "song length: 2\n"
                     "restart: 0\n"
                     "frequency table: linear\n"
                     "speed: 6\n"
                     "bpm: 125\n"
                     "length: 0.96 s\n");
    EXPECT_EQ(o.err, "");
}

TEST_F(XmPlayerTest, RendersTheSongsLengthToAWavFile) {
    const Outcome o = xm({song, "--wav", wav});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, "");
    const std::vector<std::uint8_t> file = bytesOf(wav);
    constexpr std::size_t frames = 8 * 5292;
    ASSERT_EQ(file.size(), 44 + frames * 4);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(u32(file, 4), file.size() - 8);
    EXPECT_EQ(u32(file, 24), 44100u);        // frames per second
    EXPECT_EQ(u32(file, 28), 44100u * 4);    // bytes per second
    EXPECT_EQ(file[22] | file[23] << 8, 2);  // channels
    EXPECT_EQ(file[34] | file[35] << 8, 16); // bits
    EXPECT_EQ(u32(file, 40), frames * 4);
    std::size_t silent = 0;
    for (std::size_t i = 44; i < file.size(); i += 2) {
        silent += file[i] == 0 && file[i + 1] == 0;
    }
    EXPECT_LT(silent, frames); // mostly sound

    // The same song again gives the same bytes; a shorter render is its beginning.
    ASSERT_EQ(xm({song, "--wav", wav}).exitCode, 0);
    EXPECT_EQ(bytesOf(wav), file);
    ASSERT_EQ(xm({song, "--wav=" + wav, "--seconds=0.5"}).exitCode, 0);
    const std::vector<std::uint8_t> shorter = bytesOf(wav);
    ASSERT_EQ(shorter.size(), 44 + 22050u * 4);
    EXPECT_TRUE(std::equal(shorter.begin() + 44, shorter.end(), file.begin() + 44));
    // Longer than the song: it goes on from its restart position.
    ASSERT_EQ(xm({song, "--wav", wav, "--seconds", "3"}).exitCode, 0);
    EXPECT_EQ(bytesOf(wav).size(), 44 + 132300u * 4);
}

TEST_F(XmPlayerTest, TracePrintsEveryRowTickWithItsOutputFrame) {
    const Outcome o = xm({song, "--wav", wav, "--trace"});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, "0 0 0\n"
                     "5292 0 1\n"
                     "10584 0 2\n"
                     "15876 0 3\n"
                     "21168 1 0\n"
                     "26460 1 1\n"
                     "31752 1 2\n"
                     "37044 1 3\n");
}

TEST_F(XmPlayerTest, PlaysThroughTheSoundDeviceAndStopsWhenAsked) {
    Outcome o = xm({song, "--seconds", "0.3"}, {"SDL_AUDIODRIVER=dummy"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_GE(o.seconds, 0.25);
    o = xm({song, "--seconds", "60"}, {"SDL_AUDIODRIVER=dummy"}, 0.5);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_LT(o.seconds, 10.0);
    o = xm({song}, {"SDL_AUDIODRIVER=no-such-driver"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane-xm: no sound device: ", 0), 0u) << o.err;
}

TEST_F(XmPlayerTest, FilesThatCannotBeReadOrWrittenFailWithTheirReason) {
    Outcome o = xm({temporaryPath("missing.xm")});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("cannot load"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("No such file or directory"), std::string::npos) << o.err;

    std::ofstream(wav) << "not a module at all";
    o = xm({wav, "--info"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "tessivane-xm: cannot load " + wav + ": not an XM module\n");

    o = xm({song, "--wav", "/nonexistent-directory/out.wav"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("cannot create /nonexistent-directory/out.wav"), std::string::npos)
        << o.err;
}

TEST_F(XmPlayerTest, BadUsageExitsTwoWithTheUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {song, "--loud"},
        {song, "--seconds", "abc"},
        {song, "--seconds", "0"},
        {song, "--seconds"},
        {song, "--wav"},
        {song, song},
        {song, "--info", "--trace"},
        {song, "--wav", wav, "--seconds", "30000"},
    };
    for (const auto& args : bad) {
        const Outcome o = xm(args);
        EXPECT_EQ(o.exitCode, 2) << o.err;
        EXPECT_NE(o.err.find("usage: tessivane-xm"), std::string::npos) << o.err;
    }
    const Outcome help = xm({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: tessivane-xm", 0), 0u);
}

// sox's "stat" figures for a file, or "" without sox.
std::string soxStat(const std::string& path) {
    const std::string command = "sox '" + path + "' -n stat 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        text += buffer;
    }
    return pclose(pipe) == 0 ? text : "";
}

double statValue(const std::string& stat, const std::string& name) {
    const std::size_t at = stat.find(name + ":");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << name << " in\n" << stat;
        return 0.0;
    }
    return std::stod(stat.substr(at + name.size() + 1));
}

TEST_F(XmPlayerTest, TheShowsModuleSoundsLikeMusicBySoxsFigures) {
    const Outcome o = xm({TESSIVANE_MODULE, "--wav", wav});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    const std::string stat = soxStat(wav);
    if (stat.empty()) {
        GTEST_SKIP() << "sox is not installed (scripts/install-deps --test)";
    }
    const Outcome info = xm({TESSIVANE_MODULE, "--info"});
    const std::size_t at = info.out.find("\nlength: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(statValue(stat, "Length (seconds)"), std::stod(info.out.substr(at + 9)), 0.01);
    // Loud enough to hear, never clipped, and centred.
    EXPECT_GT(statValue(stat, "RMS     amplitude"), 0.03);
    EXPECT_LT(statValue(stat, "Maximum amplitude"), 0.99);
    EXPECT_GT(statValue(stat, "Minimum amplitude"), -0.99);
    EXPECT_LT(std::abs(statValue(stat, "Mean    amplitude")), 0.01);
}

} // namespace
} // namespace tessivane::e2e
