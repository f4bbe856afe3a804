// The wave-out calls over the null, pull and SDL devices.
#include "platform/platform.h"
#include "platform/thread.h"
#include "platform/timer.h"
#include "platform/wave_out.h"
#include "scoped_environment.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace tessivane::platform {
namespace {

using tessivane::testing::ScopedEnvironment;

// A clock any thread may read and the test moves.
class TestClock final : public Clock {
public:
    DWORD now() override { return ms.load(); }
    std::atomic<DWORD> ms{1000};
};

constexpr DWORD RATE = 44100;

WAVEFORMATEX stereo16(DWORD rate = RATE) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    return format;
}

DWORD positionIn(HWAVEOUT device, UINT unit, UINT* answeredIn = nullptr) {
    MMTIME time{};
    time.wType = unit;
    EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
    if (answeredIn != nullptr) {
        *answeredIn = time.wType;
    }
    return time.u.cb;
}

// A looping buffer of frames frames, as the music's ring is set up.
struct Ring {
    explicit Ring(std::size_t frames, DWORD loops = 0xFFFFFFFFu) : samples(frames * 2) {
        header.lpData = reinterpret_cast<char*>(samples.data());
        header.dwBufferLength = static_cast<DWORD>(frames * 4);
        header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        header.dwLoops = loops;
    }
    std::vector<std::int16_t> samples;
    WAVEHDR header{};
};

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override { setClock(&clock); }
    void TearDown() override {
        setClock(nullptr);
        setWaveOutput(WaveOutput::Default);
    }

    HWAVEOUT open(WaveOutput output, const char* wavPath = nullptr) {
        setWaveOutput(output, wavPath);
        HWAVEOUT device = nullptr;
        const WAVEFORMATEX format = stereo16();
        EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR)
            << lastPlatformError();
        return device;
    }

    void start(HWAVEOUT device, Ring& ring) {
        ASSERT_EQ(waveOutPrepareHeader(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    }

    void stop(HWAVEOUT device, Ring& ring) {
        EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutUnprepareHeader(device, &ring.header, sizeof ring.header),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    }

    TestClock clock;
};

TEST_F(WaveOutTest, NullDevicePositionFollowsTheClockAcrossLoopsInEveryUnit) {
    HWAVEOUT device = open(WaveOutput::Null);
    Ring ring(4410); // 100 ms
    clock.ms = 5000;
    EXPECT_EQ(positionIn(device, TIME_BYTES), 0u); // nothing queued yet
    start(device, ring);
    clock.ms = 5010;
    EXPECT_EQ(positionIn(device, TIME_BYTES), 441u * 4);
    clock.ms = 5250; // two and a half loops on
    EXPECT_EQ(positionIn(device, TIME_BYTES), 11025u * 4);
    EXPECT_EQ(positionIn(device, TIME_SAMPLES), 11025u);
    EXPECT_EQ(positionIn(device, TIME_MS), 250u);
    UINT answered = 0;
    EXPECT_EQ(positionIn(device, TIME_SMPTE, &answered), 11025u * 4);
    EXPECT_EQ(answered, TIME_BYTES);
    stop(device, ring);
}

TEST_F(WaveOutTest, HeaderRulesOfALoopingBufferStillPlaying) {
    HWAVEOUT device = open(WaveOutput::Null);
    Ring ring(1000);
    EXPECT_EQ(waveOutWrite(device, &ring.header, sizeof ring.header), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    // The loop flags set before preparing stay.
    EXPECT_EQ(ring.header.dwFlags, WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED);
    ASSERT_EQ(waveOutWrite(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    EXPECT_NE(ring.header.dwFlags & WHDR_INQUEUE, 0u);
    // Unpreparing a queued buffer fails and stops nothing; so does closing.
    EXPECT_EQ(waveOutUnprepareHeader(device, &ring.header, sizeof ring.header),
              WAVERR_STILLPLAYING);
    EXPECT_NE(ring.header.dwFlags & WHDR_PREPARED, 0u);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
    clock.ms = clock.ms + 100;
    EXPECT_GT(positionIn(device, TIME_BYTES), 0u);
    // Only a reset stops it: done, out of the queue, position back to 0.
    EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_NE(ring.header.dwFlags & WHDR_DONE, 0u);
    EXPECT_EQ(ring.header.dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(positionIn(device, TIME_BYTES), 0u);
    EXPECT_EQ(waveOutUnprepareHeader(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    // A closed handle is no handle.
    EXPECT_EQ(waveOutReset(device), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, AFiniteLoopCountPlaysOutAndStops) {
    HWAVEOUT device = open(WaveOutput::Null);
    Ring ring(441, 3); // 10 ms, three times
    start(device, ring);
    clock.ms = clock.ms + 1000;
    EXPECT_EQ(positionIn(device, TIME_BYTES), 3u * 441 * 4);
    EXPECT_NE(ring.header.dwFlags & WHDR_DONE, 0u);
    EXPECT_EQ(waveOutUnprepareHeader(device, &ring.header, sizeof ring.header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, OpeningRefusesWhatItCannotPlay) {
    setWaveOutput(WaveOutput::Null);
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format = stereo16();
    format.wBitsPerSample = 8;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = RATE * 2;
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_NE(std::string(lastPlatformError()).find("16-bit"), std::string::npos);
    format = stereo16();
    format.nAvgBytesPerSec = 1;
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    format = stereo16();
    EXPECT_EQ(waveOutOpen(&device, 3, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(waveOutGetPosition(nullptr, nullptr, 0), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, UnderrunsCountPlayBeyondWhatTheLastQueryLeftTimeToRefill) {
    HWAVEOUT device = open(WaveOutput::Null);
    Ring ring(4410); // 100 ms
    start(device, ring);
    // Asked every 40 ms: a refiller could always keep up.
    for (int i = 0; i < 10; ++i) {
        clock.ms = clock.ms + 40;
        positionIn(device, TIME_BYTES);
    }
    EXPECT_EQ(waveOutUnderruns(device), 0u);
    // 150 ms without a question: the device played data no refiller could have renewed.
    clock.ms = clock.ms + 150;
    positionIn(device, TIME_BYTES);
    EXPECT_EQ(waveOutUnderruns(device), 1u);
    stop(device, ring);
}

// Refills a ring the way the music's output thread does: asks for the position and writes
// every block behind it, each frame holding the number of the block it belongs to counted
// from the start of playback, then sleeps.
struct Refiller {
    static constexpr std::size_t BLOCK = 884;
    static constexpr std::size_t BLOCKS = 20;

    Refiller(HWAVEOUT device, Ring& ring) : device(device), ring(ring) {
        for (std::size_t b = 0; b < BLOCKS; ++b) {
            write(b);
        }
    }

    void write(std::size_t streamBlock) {
        const std::size_t first = streamBlock % BLOCKS * BLOCK;
        for (std::size_t f = first; f < first + BLOCK; ++f) {
            ring.samples[2 * f] = static_cast<std::int16_t>(streamBlock);
            ring.samples[2 * f + 1] = static_cast<std::int16_t>(-static_cast<int>(streamBlock));
        }
    }

    static DWORD run(void* self) {
        auto* r = static_cast<Refiller*>(self);
        while (!r->stop.load()) {
            MMTIME time{};
            time.wType = TIME_BYTES;
            waveOutGetPosition(r->device, &time, sizeof time);
            const std::size_t playing = time.u.cb / 4 / BLOCK;
            while (r->written < playing + BLOCKS) {
                r->write(r->written++);
            }
            Sleep(5);
        }
        r->done = true;
        return 0;
    }

    HWAVEOUT device;
    Ring& ring;
    std::size_t written = BLOCKS;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
};

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(WaveOutTest, PullDeviceHandsOverExactlyWhatTheRingHoldsInStepWithItsRefiller) {
    const std::string path =
        ::testing::TempDir() + "wave-out-test-" + std::to_string(getpid()) + ".wav";
    HWAVEOUT device = open(WaveOutput::Pull, path.c_str());
    Ring ring(Refiller::BLOCK * Refiller::BLOCKS);
    Refiller refiller(device, ring);
    start(device, ring);
    HANDLE thread = CreateThread(nullptr, 0, Refiller::run, &refiller, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Pulls of odd sizes, over many loops of the ring.
    const std::uint32_t sizes[] = {1, 883, 7919, 44100, 17, 30000};
    std::vector<std::int16_t> all;
    for (int round = 0; round < 4; ++round) {
        for (std::uint32_t n : sizes) {
            std::vector<std::int16_t> part(n * 2);
            ASSERT_TRUE(pullWaveOutput(part.data(), n)) << lastPlatformError();
            all.insert(all.end(), part.begin(), part.end());
        }
    }
    refiller.stop = true;
    while (!refiller.done) {
        Sleep(1);
    }
    CloseHandle(thread);
    for (std::size_t f = 0; f < all.size() / 2; ++f) {
        ASSERT_EQ(all[2 * f], static_cast<std::int16_t>(f / Refiller::BLOCK)) << "frame " << f;
        ASSERT_EQ(all[2 * f + 1],
                  static_cast<std::int16_t>(-static_cast<int>(f / Refiller::BLOCK)));
    }
    EXPECT_EQ(positionIn(device, TIME_SAMPLES), all.size() / 2);
    EXPECT_EQ(waveOutUnderruns(device), 0u);
    stop(device, ring);

    // The file holds the same frames behind a 44-byte header that counts them.
    const std::vector<std::uint8_t> file = readBytes(path);
    ASSERT_EQ(file.size(), 44 + all.size() * 2);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    const auto u32 = [&](std::size_t at) {
        return file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
               static_cast<std::uint32_t>(file[at + 3]) << 24;
    };
    EXPECT_EQ(u32(4), file.size() - 8);
    EXPECT_EQ(u32(24), RATE);
    EXPECT_EQ(u32(40), all.size() * 2);
    EXPECT_EQ(std::memcmp(file.data() + 44, all.data(), all.size() * 2), 0);
    std::remove(path.c_str());
}

TEST_F(WaveOutTest, PullingPlaysSilenceWhenNothingIsQueuedAndFailsWithoutADevice) {
    EXPECT_FALSE(pullWaveOutput(nullptr, 10));
    EXPECT_NE(std::string(lastPlatformError()).find("no pull device"), std::string::npos);
    HWAVEOUT device = open(WaveOutput::Pull);
    std::vector<std::int16_t> frames(20, 7);
    EXPECT_TRUE(pullWaveOutput(frames.data(), 10));
    EXPECT_EQ(frames, std::vector<std::int16_t>(20, 0));
    EXPECT_EQ(positionIn(device, TIME_BYTES), 0u); // nothing played
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, AWavFileThatCannotBeCreatedFailsTheOpenWithTheReason) {
    setWaveOutput(WaveOutput::Pull, "/nonexistent-directory/out.wav");
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format = stereo16();
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_NE(std::string(lastPlatformError()).find("cannot create /nonexistent-directory/out.wav"),
              std::string::npos)
        << lastPlatformError();
}

TEST_F(WaveOutTest, SdlDevicePlaysTheLoopingBufferOnItsOwnThread) {
    // SDL's dummy audio driver consumes sound in real time, on a machine without sound too.
    ScopedEnvironment dummy("SDL_AUDIODRIVER", "dummy");
    setClock(nullptr);
    HWAVEOUT device = open(WaveOutput::System);
    ASSERT_NE(device, nullptr);
    Ring ring(4410);
    start(device, ring);
    DWORD position = 0;
    for (int i = 0; i < 400 && position < 8820 * 4; ++i) {
        Sleep(10);
        position = positionIn(device, TIME_BYTES);
    }
    EXPECT_GE(position, 8820u * 4) << "the buffer did not loop";
    stop(device, ring);
}

TEST_F(WaveOutTest, WithoutASoundSystemOpeningSaysWhy) {
    ScopedEnvironment noDriver("SDL_AUDIODRIVER", "no-such-driver");
    setWaveOutput(WaveOutput::System);
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format = stereo16();
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    EXPECT_FALSE(std::string(lastPlatformError()).empty());
}

} // namespace
} // namespace tessivane::platform
