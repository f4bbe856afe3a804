// The synthesised instruments: in tune, loops without clicks, drums that end in silence,
// samples that use their range.
#include "instruments.h"
#include "music/module.h"
#include "music/module_builder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace tessivane::composer {
namespace {

using music::Instrument;
using music::Sample;

struct ModuleDeleter {
    void operator()(music::Module* module) const { music::freeModule(module); }
};

// One module holding all eight instruments, made once.
const music::Module& instruments() {
    static const std::unique_ptr<music::Module, ModuleDeleter> module = [] {
        std::unique_ptr<music::Module, ModuleDeleter> m(
            music::createModule(1, 1, 1, INSTRUMENT_COUNT));
        for (int n = 1; n <= INSTRUMENT_COUNT; ++n) {
            EXPECT_TRUE(makeInstrument(m->instruments[n - 1], static_cast<InstrumentNumber>(n)));
        }
        return m;
    }();
    return *module;
}

const Instrument& instrument(InstrumentNumber number) {
    return instruments().instruments[number - 1];
}

// The frequency at which the replay plays a sample on note C-4, with the linear table.
double rateAtMiddleC(const Sample& sample) {
    const int period = 7680 - 64 * (C4 + sample.relativeNote) - sample.finetune / 2;
    return 8363.0 * std::exp2((4608 - period) / 768.0);
}

// The lag in [minimum, maximum] at which the loop best matches itself: its cycle.
int strongestCycle(const Sample& sample, int minimum, int maximum) {
    int best = 0;
    double bestScore = -2.0;
    const std::uint32_t start = sample.loopStart;
    const std::uint32_t length = sample.loopLength;
    for (int lag = minimum; lag <= maximum; ++lag) {
        double product = 0.0;
        double energy = 0.0;
        for (std::uint32_t i = 0; i < length; ++i) {
            const double a = sample.data[start + i];
            const double b = sample.data[start + (i + lag) % length];
            product += a * b;
            energy += a * a;
        }
        if (product / energy > bestScore) {
            bestScore = product / energy;
            best = lag;
        }
    }
    return best;
}

double cents(double frequency, double reference) {
    return 1200.0 * std::log2(frequency / reference);
}

TEST(Instruments, PitchedOnesPlayMiddleCOnNoteC4) {
    constexpr double MIDDLE_C = 261.6256;
    for (InstrumentNumber n : {BASS, PAD, LEAD, PLUCK}) {
        const Sample& sample = *instrument(n).samples[0];
        const int cycle = strongestCycle(sample, 20, 100);
        EXPECT_NEAR(cents(rateAtMiddleC(sample) / cycle, MIDDLE_C), 0.0, 2.0)
            << "instrument " << static_cast<int>(n) << " cycle " << cycle;
    }
}

TEST(Instruments, EveryLoopJoinsWithoutAJump) {
    for (int n = 1; n <= INSTRUMENT_COUNT; ++n) {
        const Instrument& ins = instrument(static_cast<InstrumentNumber>(n));
        for (int s = 0; s < ins.sampleCount; ++s) {
            const Sample& sample = *ins.samples[s];
            ASSERT_LE(sample.loopStart + sample.loopLength, sample.length);
            if (sample.loopMode != music::LOOP_FORWARD) {
                continue;
            }
            // The step from the loop's last value back to its first is no larger than the
            // steps inside the loop.
            const std::uint32_t end = sample.loopStart + sample.loopLength;
            int largest = 0;
            for (std::uint32_t i = sample.loopStart + 1; i < end; ++i) {
                largest = std::max(largest, std::abs(sample.data[i] - sample.data[i - 1]));
            }
            EXPECT_LE(std::abs(sample.data[sample.loopStart] - sample.data[end - 1]), largest)
                << "instrument " << n;
        }
    }
}

TEST(Instruments, SamplesUseTheirRangeAndDrumsEndInSilence) {
    for (int n = 1; n <= INSTRUMENT_COUNT; ++n) {
        const Instrument& ins = instrument(static_cast<InstrumentNumber>(n));
        ASSERT_GE(ins.sampleCount, 1);
        for (int s = 0; s < ins.sampleCount; ++s) {
            const Sample& sample = *ins.samples[s];
            int top = 0;
            for (std::uint32_t i = 0; i < sample.length; ++i) {
                top = std::max(top, std::abs(static_cast<int>(sample.data[i])));
            }
            EXPECT_GT(top, 28000) << "instrument " << n << " sample " << s;
            if (sample.loopMode == music::LOOP_NONE) {
                EXPECT_LT(std::abs(sample.data[sample.length - 1]), 300)
                    << "instrument " << n << " sample " << s << " stops with a click";
            }
        }
    }
}

TEST(Instruments, HatsCloseBelowTheOpenNoteAndRingAbove) {
    const Instrument& hats = instrument(HATS);
    ASSERT_EQ(hats.sampleCount, 2);
    EXPECT_EQ(hats.noteSample[CLOSED_HAT_NOTE], 0);
    EXPECT_EQ(hats.noteSample[OPEN_HAT_NOTE], 1);
    EXPECT_EQ(hats.samples[0]->loopMode, music::LOOP_NONE);
    EXPECT_EQ(hats.samples[1]->loopMode, music::LOOP_PING_PONG);
    // Both sound at the rate they were made at on their own notes.
    EXPECT_EQ(hats.samples[0]->relativeNote + CLOSED_HAT_NOTE,
              hats.samples[1]->relativeNote + OPEN_HAT_NOTE);
    // The open hat rings only as long as its envelope: it must end at 0.
    EXPECT_EQ(hats.volumeEnvelope[hats.volumePointCount - 1].value, 0);
}

TEST(Instruments, EnvelopesAreWellFormed) {
    for (int n = 1; n <= INSTRUMENT_COUNT; ++n) {
        const Instrument& ins = instrument(static_cast<InstrumentNumber>(n));
        if (ins.volumeType == 0) {
            continue;
        }
        ASSERT_GE(ins.volumePointCount, 2) << n;
        ASSERT_LE(ins.volumePointCount, music::MAX_ENVELOPE_POINTS) << n;
        for (int p = 0; p < ins.volumePointCount; ++p) {
            EXPECT_LE(ins.volumeEnvelope[p].value, 64) << n;
            if (p > 0) {
                EXPECT_GT(ins.volumeEnvelope[p].position, ins.volumeEnvelope[p - 1].position) << n;
            }
        }
        if ((ins.volumeType & music::ENVELOPE_SUSTAIN) != 0) {
            EXPECT_LT(ins.volumeSustain, ins.volumePointCount) << n;
            // A held note must be able to end: key off fades it.
            EXPECT_GT(ins.fadeout, 0) << n;
        }
    }
}

} // namespace
} // namespace tessivane::composer
