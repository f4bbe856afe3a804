// tessivane-xm against hostile module files: cut short anywhere, every count at its
// largest, loops, offsets and jumps out of range, no channels, no rows. Each file is either
// refused with one line that gives the reason (exit 1) or played safely (exit 0) — never a
// crash, never a hang.
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "spawn.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace tessivane::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const Bytes& bytes, std::size_t count) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
}

std::uint32_t u16(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
std::uint32_t u32(const Bytes& b, std::size_t at) {
    return u16(b, at) | u16(b, at + 2) << 16;
}
void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

// Where the parts of an XM file start, found by walking it as the format lays it out.
struct Layout {
    static constexpr std::size_t HEADER_SIZE = 60; // the header size field; counts from here
    static constexpr std::size_t SONG_LENGTH = 64;
    static constexpr std::size_t RESTART = 66;
    static constexpr std::size_t CHANNELS = 68;
    static constexpr std::size_t PATTERNS = 70;
    static constexpr std::size_t INSTRUMENTS = 72;
    static constexpr std::size_t SPEED = 76;
    static constexpr std::size_t BPM = 78;
    static constexpr std::size_t ORDERS = 80;
    // Inside a pattern header: its length, the packing type, the rows, the packed size.
    static constexpr std::size_t PATTERN_ROWS = 5;
    static constexpr std::size_t PATTERN_PACKED = 7;
    // Inside an instrument header: its size, the sample count, the sample header size, then
    // the keymap, the envelopes and their counts and points.
    static constexpr std::size_t INSTRUMENT_SAMPLES = 27;
    static constexpr std::size_t SAMPLE_HEADER_SIZE = 29;
    static constexpr std::size_t VOLUME_ENVELOPE = 129;
    static constexpr std::size_t VOLUME_POINTS = 225;
    static constexpr std::size_t PANNING_POINTS = 226;
    static constexpr std::size_t VOLUME_SUSTAIN = 227;
    static constexpr std::size_t VOLUME_LOOP_START = 228;
    static constexpr std::size_t VOLUME_LOOP_END = 229;
    static constexpr std::size_t VOLUME_TYPE = 233;
    // Inside a sample header.
    static constexpr std::size_t SAMPLE_LENGTH = 0;
    static constexpr std::size_t LOOP_START = 4;
    static constexpr std::size_t LOOP_LENGTH = 8;
    static constexpr std::size_t SAMPLE_TYPE = 14;

    explicit Layout(const Bytes& b) {
        std::size_t at = HEADER_SIZE + u32(b, HEADER_SIZE);
        for (std::uint32_t p = 0; p < u16(b, PATTERNS); ++p) {
            patterns.push_back(at);
            at += u32(b, at) + u16(b, at + PATTERN_PACKED);
        }
        for (std::uint32_t i = 0; i < u16(b, INSTRUMENTS); ++i) {
            instruments.push_back(at);
            const std::uint32_t count = u16(b, at + INSTRUMENT_SAMPLES);
            const std::uint32_t headerSize = count > 0 ? u32(b, at + SAMPLE_HEADER_SIZE) : 0;
            at += u32(b, at);
            std::size_t data = 0;
            for (std::uint32_t s = 0; s < count; ++s) {
                samples.push_back(at + s * headerSize);
                data += u32(b, at + s * headerSize + SAMPLE_LENGTH);
            }
            at += count * headerSize + data;
        }
        end = at;
    }

    std::vector<std::size_t> patterns;
    std::vector<std::size_t> instruments;
    std::vector<std::size_t> samples;
    std::size_t end = 0;
};

// A refusal is one line that names the file and gives the loader's reason.
void expectRefusedOrPlayed(const Outcome& o, const std::string& path, const std::string& what) {
    if (o.exitCode == 0) {
        return;
    }
    EXPECT_EQ(o.exitCode, 1) << what << ": " << o.err;
    const std::string prefix = "tessivane-xm: cannot load " + path + ": ";
    EXPECT_EQ(o.err.rfind(prefix, 0), 0u) << what << ": " << o.err;
    EXPECT_GT(o.err.size(), prefix.size() + 1) << what << ": no reason";
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << what << ": " << o.err;
}

class HostileModules : public ::testing::Test {
protected:
    void TearDown() override {
        std::remove(path.c_str());
        std::remove(wav.c_str());
    }

    // Writes bytes as the module file and plays two seconds of it into a WAV file.
    Outcome play(const Bytes& bytes, const std::string& what) {
        writeBytes(path, bytes, bytes.size());
        const Outcome o = spawn(TESSIVANE_XM_PLAYER, {path, "--wav", wav, "--seconds", "2"});
        expectRefusedOrPlayed(o, path, what);
        if (o.exitCode == 0) {
            // 44-byte header, then 2 s of 16-bit stereo at 44,100 Hz.
            EXPECT_EQ(bytesOf(wav).size(), 44u + 2 * 44100 * 4) << what;
        }
        return o;
    }

    // The song's length too, which walks the whole song through the replay.
    Outcome info(const Bytes& bytes, const std::string& what) {
        writeBytes(path, bytes, bytes.size());
        const Outcome o = spawn(TESSIVANE_XM_PLAYER, {path, "--info"});
        expectRefusedOrPlayed(o, path, what);
        if (o.exitCode == 0) {
            EXPECT_NE(o.out.find("length: "), std::string::npos) << what << ": " << o.out;
        }
        return o;
    }

    const std::string path = temporaryPath("hostile.xm");
    const std::string wav = temporaryPath("hostile.wav");
};

TEST_F(HostileModules, CutShortAnywhereIsRefusedAsTruncated) {
    const Bytes music = bytesOf(TESSIVANE_MODULE);
    const Layout layout(music);
    ASSERT_EQ(layout.end, music.size());
    // Inside and between the module header's fields, both sides of the start of every
    // pattern, instrument and sample header, and evenly spread offsets through the rest.
    std::vector<std::size_t> cuts = {0, 1, 16, 17, 37, 38, 58, 59, 200, 335, 336};
    for (std::size_t at = Layout::HEADER_SIZE; at <= Layout::ORDERS + 1; at += 2) {
        cuts.push_back(at);
    }
    for (const auto* starts : {&layout.patterns, &layout.instruments, &layout.samples}) {
        for (const std::size_t at : *starts) {
            cuts.insert(cuts.end(), {at - 1, at, at + 5});
        }
    }
    for (std::size_t k = 1; k < 32; ++k) {
        cuts.push_back(music.size() * k / 32);
    }
    cuts.push_back(music.size() - 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (const std::size_t cut : cuts) {
        writeBytes(path, music, cut);
        const Outcome o = spawn(TESSIVANE_XM_PLAYER, {path, "--info"});
        const std::string what = "cut at " + std::to_string(cut);
        EXPECT_EQ(o.exitCode, 1) << what;
        expectRefusedOrPlayed(o, path, what);
        const bool named = o.err.find("truncated") != std::string::npos ||
                           o.err.find("not an XM module") != std::string::npos;
        EXPECT_TRUE(named) << what << ": " << o.err;
    }
}

TEST_F(HostileModules, EveryCountAtItsLargest) {
    const Bytes music = bytesOf(TESSIVANE_MODULE);
    const Layout layout(music);
    ASSERT_FALSE(layout.patterns.empty());
    ASSERT_FALSE(layout.samples.empty());
    const std::size_t pattern = layout.patterns[0];
    const std::size_t instrument = layout.instruments[0];
    const std::size_t sample = layout.samples[0];
    const std::vector<std::pair<std::string, std::function<void(Bytes&)>>> cases = {
        {"header size", [](Bytes& b) { put32(b, Layout::HEADER_SIZE, 0xFFFFFFFF); }},
        {"song length", [](Bytes& b) { put16(b, Layout::SONG_LENGTH, 0xFFFF); }},
        {"restart", [](Bytes& b) { put16(b, Layout::RESTART, 0xFFFF); }},
        {"channels", [](Bytes& b) { put16(b, Layout::CHANNELS, 0xFFFF); }},
        {"patterns", [](Bytes& b) { put16(b, Layout::PATTERNS, 0xFFFF); }},
        {"instruments", [](Bytes& b) { put16(b, Layout::INSTRUMENTS, 0xFFFF); }},
        {"speed", [](Bytes& b) { put16(b, Layout::SPEED, 0xFFFF); }},
        {"bpm", [](Bytes& b) { put16(b, Layout::BPM, 0xFFFF); }},
        {"pattern header", [&](Bytes& b) { put32(b, pattern, 0xFFFFFFFF); }},
        {"rows", [&](Bytes& b) { put16(b, pattern + Layout::PATTERN_ROWS, 0xFFFF); }},
        {"packed size", [&](Bytes& b) { put16(b, pattern + Layout::PATTERN_PACKED, 0xFFFF); }},
        {"instrument size", [&](Bytes& b) { put32(b, instrument, 0xFFFFFFFF); }},
        {"samples", [&](Bytes& b) { put16(b, instrument + Layout::INSTRUMENT_SAMPLES, 0xFFFF); }},
        {"sample header size",
         [&](Bytes& b) { put32(b, instrument + Layout::SAMPLE_HEADER_SIZE, 0xFFFFFFFF); }},
        {"envelope points",
         [&](Bytes& b) {
             b.at(instrument + Layout::VOLUME_POINTS) = 0xFF;
             b.at(instrument + Layout::PANNING_POINTS) = 0xFF;
         }},
        {"sample length", [&](Bytes& b) { put32(b, sample + Layout::SAMPLE_LENGTH, 0xFFFFFFFF); }},
    };
    for (const auto& [what, change] : cases) {
        Bytes bytes = music;
        change(bytes);
        play(bytes, what);
    }
}

// A short song of its own whose cells ask for what is not there: sample offsets past the
// sample's end, jumps past the song, breaks past the pattern, instruments and notes out of
// range, endless pattern loops.
Bytes outOfRangeSong() {
    music::Module* module = music::createModule(3, 2, 8, 2);
    EXPECT_TRUE(music::setOrders(*module, {0, 1, 0}));
    music::Sample* sample = music::addSample(module->instruments[0], 256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        sample->data[i] = static_cast<std::int16_t>(i * 200 - 25000);
    }
    sample->loopMode = music::LOOP_PING_PONG;
    sample->loopStart = 64;
    sample->loopLength = 128;
    auto cell = [&](int p, int row, int channel, music::PatternCell c) {
        music::cellAt(*module, p, row, channel) = c;
    };
    cell(0, 0, 0, {49, 1, 0, 0x09, 0xFF});    // offset 0xFF00: past the end
    cell(0, 0, 1, {96, 2, 0, 0x0E, 0x6F});    // an instrument without samples; loop 15 times
    cell(0, 1, 1, {0, 0, 0, 0x0E, 0x6F});     // a second loop end on the same channel
    cell(0, 1, 2, {50, 0x80, 0, 0x0F, 0});    // the last instrument number; speed 0
    cell(0, 2, 0, {0, 0, 0, 0x0D, 0x99});     // break to row 99 of an 8-row pattern
    cell(1, 0, 0, {49, 1, 0xFF, 0x0B, 0xFF}); // jump to order 255
    cell(1, 1, 2, {music::NOTE_KEY_OFF, 1, 0, 0x0E, 0x60});
    cell(1, 2, 2, {49, 1, 0, 0x0E, 0x6F});    // loop back to a start on a row behind it
    cell(1, 3, 0, {1, 1, 0, 0x0F, 0xFF});     // BPM 255
    cell(1, 4, 1, {95, 1, 0xF0, 0x03, 0xFF}); // portamento from nothing
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(music::writeModule(*module, bytes, error)) << error;
    music::freeModule(module);
    return bytes;
}

TEST_F(HostileModules, LoopsOffsetsAndJumpsOutOfRangePlaySafely) {
    const Bytes song = outOfRangeSong();
    const Layout layout(song);
    ASSERT_EQ(layout.samples.size(), 1u);
    const std::size_t sample = layout.samples[0];
    const std::size_t instrument = layout.instruments[0];
    const std::vector<std::pair<std::string, std::function<void(Bytes&)>>> cases = {
        {"as written", [](Bytes&) {}},
        {"loop start past the end",
         [&](Bytes& b) { put32(b, sample + Layout::LOOP_START, 0xFFFFFF00); }},
        {"loop length past the end",
         [&](Bytes& b) { put32(b, sample + Layout::LOOP_LENGTH, 0xFFFFFF00); }},
        {"loop past the end, forward",
         [&](Bytes& b) {
             put32(b, sample + Layout::LOOP_START, 200);
             put32(b, sample + Layout::LOOP_LENGTH, 200);
             b.at(sample + Layout::SAMPLE_TYPE) = 1;
         }},
        {"empty loop", [&](Bytes& b) { put32(b, sample + Layout::LOOP_LENGTH, 0); }},
        {"unknown loop type", [&](Bytes& b) { b.at(sample + Layout::SAMPLE_TYPE) |= 3; }},
        {"orders past the patterns",
         [](Bytes& b) { std::fill_n(b.begin() + Layout::ORDERS, 3, std::uint8_t{0xFE}); }},
        {"restart past the song", [](Bytes& b) { put16(b, Layout::RESTART, 200); }},
        {"envelope loop and sustain past the points",
         [&](Bytes& b) {
             b.at(instrument + Layout::VOLUME_POINTS) = 2;
             put16(b, instrument + Layout::VOLUME_ENVELOPE + 4, 0xFFFF); // second point's tick
             b.at(instrument + Layout::VOLUME_SUSTAIN) = 0xFF;
             b.at(instrument + Layout::VOLUME_LOOP_START) = 0xFE;
             b.at(instrument + Layout::VOLUME_LOOP_END) = 0xFF;
             b.at(instrument + Layout::VOLUME_TYPE) = 0x07;
         }},
    };
    for (const auto& [what, change] : cases) {
        Bytes bytes = song;
        change(bytes);
        play(bytes, what);
        info(bytes, what);
    }
}

TEST_F(HostileModules, NoChannelsOrNoRows) {
    const Bytes song = outOfRangeSong();
    const Layout layout(song);
    // No channels, the patterns' packed cells left where they were.
    Bytes noChannels = song;
    put16(noChannels, Layout::CHANNELS, 0);
    // No channels and no cells: every pattern's packed data taken out.
    Bytes trimmed;
    std::size_t from = 0;
    for (const std::size_t pattern : layout.patterns) {
        const std::size_t headerEnd = pattern + u32(song, pattern);
        const std::size_t moved = trimmed.size() + (pattern - from);
        trimmed.insert(trimmed.end(), song.begin() + static_cast<std::ptrdiff_t>(from),
                       song.begin() + static_cast<std::ptrdiff_t>(headerEnd));
        put16(trimmed, moved + Layout::PATTERN_PACKED, 0);
        from = headerEnd + u16(song, pattern + Layout::PATTERN_PACKED);
    }
    trimmed.insert(trimmed.end(), song.begin() + static_cast<std::ptrdiff_t>(from), song.end());
    put16(trimmed, Layout::CHANNELS, 0);
    Bytes noRows = song;
    for (const std::size_t pattern : layout.patterns) {
        put16(noRows, pattern + Layout::PATTERN_ROWS, 0);
    }
    play(noChannels, "no channels, cells left behind");
    info(noChannels, "no channels, cells left behind");
    play(trimmed, "no channels");
    info(trimmed, "no channels");
    play(noRows, "no rows");
    info(noRows, "no rows");
}

} // namespace
} // namespace tessivane::e2e
