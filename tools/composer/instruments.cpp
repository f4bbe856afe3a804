#include "instruments.h"

#include "music/module.h"
#include "music/module_builder.h"
#include "synth.h"

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace tessivane::composer {

using music::EnvelopePoint;
using music::Instrument;
using music::Sample;

namespace {

// Note C-4 plays a sample at this many values per second (relative note 0, finetune 0).
constexpr double BASE_RATE = 8363.0;

// A cycle of 32 values at the base rate is 261.34 Hz, 1.9 cents under middle C; a finetune
// of 2 (half of it, one period unit, is 1/64 semitone) brings it within 0.3 cents. A cycle
// of 64 values does the same one octave up.
constexpr std::int8_t CYCLE_FINETUNE = 2;

// Rates at which the drums are made: they sound as made on their notes.
const double SNARE_RATE = BASE_RATE * 2.0;               // relative note 12
const double HAT_RATE = BASE_RATE * power2(17.0 / 12.0); // relative note 17 at C-4
const double WIND_RATE = BASE_RATE * power2(-7.0 / 12.0);

// The phase of harmonic h at value i of a cycle of length values, reduced in integers so
// that the wave repeats exactly.
double cyclePhase(std::int64_t h, std::int64_t i, std::int64_t length) {
    return TWO_PI * static_cast<double>(h * i % length) / static_cast<double>(length);
}

// A smooth fade to zero over the last count values, so that a sample without loop ends
// without a click.
void taperEnd(std::vector<double>& wave, std::size_t count) {
    const std::size_t start = wave.size() - count;
    for (std::size_t i = start; i < wave.size(); ++i) {
        const double x = static_cast<double>(wave.size() - i) / static_cast<double>(count);
        wave[i] *= x * x * (3.0 - 2.0 * x);
    }
}

// Adds wave as a sample of instrument, stored with 8 or 16 bits.
Sample* store(Instrument& instrument, const std::vector<double>& wave, int bits) {
    Sample* sample = music::addSample(instrument, static_cast<std::uint32_t>(wave.size()));
    if (sample == nullptr) {
        return nullptr;
    }
    sample->bits = static_cast<std::uint8_t>(bits);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        sample->data[i] = bits == 8 ? toEightBits(wave[i]) : toSixteenBits(wave[i]);
    }
    return sample;
}

void loop(Sample& sample, std::uint8_t mode, std::uint32_t start, std::uint32_t length) {
    sample.loopMode = mode;
    sample.loopStart = start;
    sample.loopLength = length;
}

void setEnvelope(Instrument& instrument, std::initializer_list<EnvelopePoint> points,
                 int sustain = -1) {
    int n = 0;
    for (const EnvelopePoint& point : points) {
        instrument.volumeEnvelope[n++] = point;
    }
    instrument.volumePointCount = static_cast<std::uint8_t>(n);
    instrument.volumeType = music::ENVELOPE_ON;
    if (sustain >= 0) {
        instrument.volumeSustain = static_cast<std::uint8_t>(sustain);
        instrument.volumeType |= music::ENVELOPE_SUSTAIN;
    }
}

// A bass drum: a sine falling from about 400 Hz through 160 Hz to 46 Hz, with a short
// click of noise on top and a little saturation for weight.
bool makeKick(Instrument& instrument) {
    const std::size_t length = 2560; // 0.31 s
    std::vector<double> wave(length);
    Noise noise(0x6B1C);
    OnePole click(2500.0, BASE_RATE);
    double phase = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / BASE_RATE;
        const double frequency = 46.0 + 120.0 * decay(t, 0.04) + 260.0 * decay(t, 0.005);
        phase += TWO_PI * frequency / BASE_RATE;
        const double body = sine(phase) * decay(t, 0.17);
        const double snap = click.lowPass(noise.next()) * decay(t, 0.002);
        wave[i] = softClip(1.5 * (body + 0.6 * snap));
    }
    taperEnd(wave, 400);
    normalise(wave, 0.97);
    Sample* sample = store(instrument, wave, 16);
    return sample != nullptr;
}

// A snare: two damped tones for the drum's body and band-limited noise for the wires.
bool makeSnare(Instrument& instrument) {
    const std::size_t length = 3400; // 0.2 s
    std::vector<double> wave(length);
    Noise noise(0x5A4E);
    OnePole lowCut(1200.0, SNARE_RATE);
    OnePole highCut(7000.0, SNARE_RATE);
    double low = 0.0;
    double high = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / SNARE_RATE;
        low += TWO_PI * (180.0 + 60.0 * decay(t, 0.01)) / SNARE_RATE;
        high += TWO_PI * 330.0 / SNARE_RATE;
        const double body = 0.6 * sine(low) * decay(t, 0.045) + 0.25 * sine(high) * decay(t, 0.025);
        const double wires = highCut.lowPass(lowCut.highPass(noise.next()));
        wave[i] = softClip(1.3 * (body + wires * (0.85 * decay(t, 0.065) + 0.5 * decay(t, 0.008))));
    }
    taperEnd(wave, 300);
    normalise(wave, 0.97);
    Sample* sample = store(instrument, wave, 8);
    if (sample == nullptr) {
        return false;
    }
    sample->relativeNote = 12;
    sample->panning = 120;
    return true;
}

// The metal of a hi-hat: six square waves at unrelated pitches with noise, high-passed.
std::vector<double> metal(std::size_t length, std::uint32_t seed) {
    constexpr double PITCHES[6] = {410.6, 608.8, 739.2, 1045.4, 1080.0, 1600.0};
    std::vector<double> wave(length);
    Noise noise(seed);
    OnePole firstCut(5000.0, HAT_RATE);
    OnePole secondCut(5000.0, HAT_RATE);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / HAT_RATE;
        double squares = 0.0;
        for (double pitch : PITCHES) {
            squares += sine(TWO_PI * pitch * t) >= 0.0 ? 1.0 : -1.0;
        }
        wave[i] = secondCut.highPass(firstCut.highPass(0.1 * squares + 0.5 * noise.next()));
    }
    return wave;
}

// Hats: a closed hat that dies in 50 ms for the notes below OPEN_HAT_NOTE, and an open
// hat for the others, whose noise loops back and forth while the envelope lets it ring.
bool makeHats(Instrument& instrument) {
    std::vector<double> closed = metal(1100, 0x4C05);
    for (std::size_t i = 0; i < closed.size(); ++i) {
        closed[i] *= decay(static_cast<double>(i) / HAT_RATE, 0.011);
    }
    taperEnd(closed, 150);
    normalise(closed, 0.95);

    constexpr std::uint32_t OPEN_ATTACK = 800;
    std::vector<double> open = metal(2400, 0x09E4);
    for (std::size_t i = 0; i < open.size(); ++i) {
        open[i] *= 1.0 + 0.6 * decay(static_cast<double>(i) / HAT_RATE, 0.006);
    }
    normalise(open, 0.95);

    Sample* closedSample = store(instrument, closed, 8);
    Sample* openSample = closedSample == nullptr ? nullptr : store(instrument, open, 8);
    if (openSample == nullptr) {
        return false;
    }
    closedSample->relativeNote = 17;
    openSample->relativeNote = 17 - (OPEN_HAT_NOTE - CLOSED_HAT_NOTE);
    loop(*openSample, music::LOOP_PING_PONG, OPEN_ATTACK,
         static_cast<std::uint32_t>(open.size()) - OPEN_ATTACK);
    closedSample->panning = openSample->panning = 100;
    for (int n = OPEN_HAT_NOTE; n < music::NOTE_COUNT; ++n) {
        instrument.noteSample[n] = 1;
    }
    setEnvelope(instrument, {{0, 64}, {3, 44}, {8, 24}, {16, 10}, {28, 3}, {40, 0}});
    return true;
}

// A bass pluck: a saw of 64 values a cycle behind a low-pass whose cutoff falls from the
// 14th harmonic to the 2.5th over 20 cycles, with a slight resonance; the last cycle loops.
bool makeBass(Instrument& instrument) {
    constexpr std::int64_t CYCLE = 64;
    constexpr std::int64_t DYING_CYCLES = 20;
    std::vector<double> wave((DYING_CYCLES + 1) * CYCLE);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        double u = static_cast<double>(i) / CYCLE;
        u = u > DYING_CYCLES ? DYING_CYCLES : u;
        const double cutoff = 2.5 + 12.0 * decay(u, 4.0);
        double sum = 0.0;
        for (int h = 1; h <= 28; ++h) {
            const double ratio = h / cutoff;
            const double ratio2 = ratio * ratio;
            double gain = 1.0 / (1.0 + ratio2 * ratio2);
            const double nearCutoff = (h - cutoff) / 1.5;
            gain += 0.35 * decay(nearCutoff * nearCutoff, 1.0);
            sum += (h == 1 ? 1.3 : 1.0 / h) * gain *
                   sine(cyclePhase(h, static_cast<std::int64_t>(i), CYCLE));
        }
        wave[i] = sum;
    }
    normalise(wave, 0.97);
    Sample* sample = store(instrument, wave, 16);
    if (sample == nullptr) {
        return false;
    }
    sample->relativeNote = 12;
    sample->finetune = CYCLE_FINETUNE;
    loop(*sample, music::LOOP_FORWARD, DYING_CYCLES * CYCLE, CYCLE);
    setEnvelope(instrument, {{0, 64}, {6, 58}, {24, 48}, {60, 42}}, 3);
    instrument.fadeout = 5462; // released in 12 ticks
    return true;
}

// A pad: five saws of 32 values a cycle, detuned by whole cycles over a loop of 8192 values
// (steps of 6.8 cents), so that every partial repeats exactly at the loop's end and the
// beating never clicks. Softened above the sixth harmonic.
bool makePad(Instrument& instrument) {
    constexpr std::int64_t LOOP = 8192;
    constexpr std::int64_t CYCLES = 256; // per loop: 32 values a cycle
    constexpr struct {
        int detune; // cycles per loop
        double level;
    } VOICES[] = {{-3, 0.55}, {-1, 0.9}, {0, 1.0}, {1, 0.9}, {2, 0.7}};
    std::vector<double> wave(LOOP);
    Noise noise(0x9AD);
    for (const auto& voice : VOICES) {
        const std::int64_t cycles = CYCLES + voice.detune;
        const auto offset = static_cast<std::int64_t>(noise.unit() * LOOP);
        for (int h = 1; h <= 11; ++h) {
            const double ratio = h / 6.0;
            const double ratio2 = ratio * ratio;
            const double level = voice.level / h / (1.0 + ratio2 * ratio2);
            for (std::int64_t i = 0; i < LOOP; ++i) {
                wave[i] += level * sine(cyclePhase(h * cycles, i + offset, LOOP));
            }
        }
    }
    normalise(wave, 0.97);
    Sample* sample = store(instrument, wave, 16);
    if (sample == nullptr) {
        return false;
    }
    sample->finetune = CYCLE_FINETUNE;
    loop(*sample, music::LOOP_FORWARD, 0, LOOP);
    setEnvelope(instrument, {{0, 0}, {12, 44}, {32, 64}, {100, 54}}, 3);
    instrument.fadeout = 820; // released in 80 ticks, a second
    // A slow, shallow vibrato keeps the held chords alive.
    instrument.vibratoDepth = 2;
    instrument.vibratoRate = 5;
    return true;
}

// A lead: one cycle of 64 values, half saw and half square, rounded off above the tenth
// harmonic; a vibrato comes in after a note has sounded for a while.
bool makeLead(Instrument& instrument) {
    constexpr std::int64_t CYCLE = 64;
    std::vector<double> wave(CYCLE);
    for (std::int64_t i = 0; i < CYCLE; ++i) {
        for (int h = 1; h <= 24; ++h) {
            const double ratio = h / 10.0;
            const double ratio2 = ratio * ratio;
            const double level = (0.55 + (h % 2 == 1 ? 0.45 : 0.0)) / h / (1.0 + ratio2 * ratio2);
            wave[i] += level * sine(cyclePhase(h, i, CYCLE));
        }
    }
    normalise(wave, 0.97);
    Sample* sample = store(instrument, wave, 16);
    if (sample == nullptr) {
        return false;
    }
    sample->relativeNote = 12;
    sample->finetune = CYCLE_FINETUNE;
    sample->panning = 150;
    loop(*sample, music::LOOP_FORWARD, 0, CYCLE);
    setEnvelope(instrument, {{0, 40}, {2, 64}, {12, 52}, {48, 46}}, 3);
    instrument.fadeout = 3276; // released in 20 ticks
    instrument.vibratoSweep = 30;
    instrument.vibratoDepth = 6; // +-9 cents
    instrument.vibratoRate = 18; // 5.6 Hz at 80 ticks a second
    return true;
}

// A glassy pluck: partials of a struck bar (2.76, 5.4 and 8.93 times the fundamental) and
// harmonics that die away in turn, over 96 cycles of 32 values; the last, nearly pure
// cycle loops and the envelope lets it ring out.
bool makePluck(Instrument& instrument) {
    constexpr std::int64_t CYCLE = 32;
    constexpr std::int64_t RINGING_CYCLES = 96;
    constexpr struct {
        int harmonic;
        double level;
        double life; // cycles to fall to 1/e; 0 = held
    } HARMONICS[] = {
        {1, 1.0, 0.0}, {2, 0.45, 40.0}, {3, 0.3, 18.0}, {4, 0.18, 10.0}, {6, 0.1, 6.0}};
    constexpr struct {
        double ratio;
        double level;
        double life;
    } PARTIALS[] = {{2.76, 0.4, 22.0}, {5.40, 0.22, 9.0}, {8.93, 0.12, 4.0}};
    std::vector<double> wave((RINGING_CYCLES + 1) * CYCLE);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        const double u = static_cast<double>(i) / CYCLE;
        const double held = u > RINGING_CYCLES ? RINGING_CYCLES : u;
        double sum = 0.0;
        for (const auto& h : HARMONICS) {
            const double level = h.life == 0.0 ? h.level : h.level * decay(held, h.life);
            sum += level * sine(cyclePhase(h.harmonic, static_cast<std::int64_t>(i), CYCLE));
        }
        if (u < RINGING_CYCLES) {
            // The partials that do not repeat with the cycle are gone before the loop.
            const double window = (1.0 - u / RINGING_CYCLES) * (1.0 - u / RINGING_CYCLES);
            for (const auto& p : PARTIALS) {
                sum += window * p.level * decay(u, p.life) * sine(TWO_PI * p.ratio * u);
            }
        }
        wave[i] = sum;
    }
    normalise(wave, 0.97);
    // 16 bits: the bells ring out alone in the intro, where 8-bit hiss would be heard.
    Sample* sample = store(instrument, wave, 16);
    if (sample == nullptr) {
        return false;
    }
    sample->finetune = CYCLE_FINETUNE;
    sample->panning = 104;
    loop(*sample, music::LOOP_FORWARD, RINGING_CYCLES * CYCLE, CYCLE);
    setEnvelope(instrument, {{0, 64}, {5, 50}, {16, 32}, {40, 16}, {80, 6}, {130, 0}});
    return true;
}

// Wind: softly pinked noise, played back and forth so that it never repeats within three
// seconds. Low notes make a dark wind, high notes a cymbal's wash; swells come from the
// volume column.
bool makeWind(Instrument& instrument) {
    constexpr std::size_t LENGTH = 8000;
    std::vector<double> wave(LENGTH);
    Noise noise(0x3117D);
    OnePole low(300.0, WIND_RATE);
    OnePole middle(1500.0, WIND_RATE);
    OnePole rumble(60.0, WIND_RATE);
    OnePole top(2400.0, WIND_RATE);
    for (std::size_t i = 0; i < LENGTH; ++i) {
        const double white = noise.next();
        const double pink = 0.5 * white + 1.5 * low.lowPass(white) + 0.8 * middle.lowPass(white);
        wave[i] = top.lowPass(rumble.highPass(pink));
    }
    normalise(wave, 0.9);
    Sample* sample = store(instrument, wave, 8);
    if (sample == nullptr) {
        return false;
    }
    sample->relativeNote = -7;
    sample->panning = 136;
    loop(*sample, music::LOOP_PING_PONG, 0, LENGTH);
    setEnvelope(instrument, {{0, 64}, {2, 64}}, 1);
    instrument.fadeout = 546; // released in 120 ticks
    return true;
}

} // namespace

bool makeInstrument(Instrument& instrument, InstrumentNumber number) {
    switch (number) {
    case KICK:
        return makeKick(instrument);
    case SNARE:
        return makeSnare(instrument);
    case HATS:
        return makeHats(instrument);
    case BASS:
        return makeBass(instrument);
    case PAD:
        return makePad(instrument);
    case LEAD:
        return makeLead(instrument);
    case PLUCK:
        return makePluck(instrument);
    case WIND:
        return makeWind(instrument);
    }
    return false;
}

} // namespace tessivane::composer
