#include "music/module.h"
#include "music/module_writer.h"

#include <cstring>
#include <string>

namespace tessivane::music {

namespace {

template <typename T>
std::string differ(const char* what, T a, T b) {
    if (a == b) {
        return "";
    }
    return std::string(what) + ": " + std::to_string(a) + " vs " + std::to_string(b);
}

std::string sampleDifference(const Sample& a, const Sample& b) {
    std::string d;
    if (!(d = differ("length", a.length, b.length)).empty() ||
        !(d = differ("loop start", a.loopStart, b.loopStart)).empty() ||
        !(d = differ("loop length", a.loopLength, b.loopLength)).empty() ||
        !(d = differ("volume", +a.volume, +b.volume)).empty() ||
        !(d = differ("finetune", +a.finetune, +b.finetune)).empty() ||
        !(d = differ("panning", a.panning, b.panning)).empty() ||
        !(d = differ("loop mode", +a.loopMode, +b.loopMode)).empty() ||
        !(d = differ("relative note", +a.relativeNote, +b.relativeNote)).empty()) {
        return d;
    }
    if ((a.data == nullptr) != (b.data == nullptr)) {
        return "one has data, the other none";
    }
    // A looping sample never plays past its loop end, where the loader puts the loop's guard
    // value over whatever the file had: only the values before it can sound.
    const std::uint32_t audible = a.loopMode == LOOP_NONE ? a.length : a.loopStart + a.loopLength;
    for (std::uint32_t v = 0; v < audible && v < a.length; ++v) {
        if (a.data[v] != b.data[v]) {
            return "value " + std::to_string(v) + ": " + std::to_string(a.data[v]) + " vs " +
                   std::to_string(b.data[v]);
        }
    }
    return "";
}

std::string envelopeDifference(const char* name, const EnvelopePoint* a, const EnvelopePoint* b) {
    for (int p = 0; p < MAX_ENVELOPE_POINTS; ++p) {
        if (a[p].position != b[p].position || a[p].value != b[p].value) {
            return std::string(name) + " envelope point " + std::to_string(p);
        }
    }
    return "";
}

std::string instrumentDifference(const Instrument& a, const Instrument& b) {
    std::string d;
    if (!(d = differ("samples", a.sampleCount, b.sampleCount)).empty()) {
        return d;
    }
    if (std::memcmp(a.noteSample, b.noteSample, sizeof a.noteSample) != 0) {
        return "note samples";
    }
    if (!(d = envelopeDifference("volume", a.volumeEnvelope, b.volumeEnvelope)).empty() ||
        !(d = envelopeDifference("panning", a.panningEnvelope, b.panningEnvelope)).empty() ||
        !(d = differ("volume points", +a.volumePointCount, +b.volumePointCount)).empty() ||
        !(d = differ("panning points", +a.panningPointCount, +b.panningPointCount)).empty() ||
        !(d = differ("volume sustain", +a.volumeSustain, +b.volumeSustain)).empty() ||
        !(d = differ("volume loop start", +a.volumeLoopStart, +b.volumeLoopStart)).empty() ||
        !(d = differ("volume loop end", +a.volumeLoopEnd, +b.volumeLoopEnd)).empty() ||
        !(d = differ("panning sustain", +a.panningSustain, +b.panningSustain)).empty() ||
        !(d = differ("panning loop start", +a.panningLoopStart, +b.panningLoopStart)).empty() ||
        !(d = differ("panning loop end", +a.panningLoopEnd, +b.panningLoopEnd)).empty() ||
        !(d = differ("volume type", +a.volumeType, +b.volumeType)).empty() ||
        !(d = differ("panning type", +a.panningType, +b.panningType)).empty() ||
        !(d = differ("vibrato type", +a.vibratoType, +b.vibratoType)).empty() ||
        !(d = differ("vibrato sweep", +a.vibratoSweep, +b.vibratoSweep)).empty() ||
        !(d = differ("vibrato depth", +a.vibratoDepth, +b.vibratoDepth)).empty() ||
        !(d = differ("vibrato rate", +a.vibratoRate, +b.vibratoRate)).empty() ||
        !(d = differ("fadeout", +a.fadeout, +b.fadeout)).empty()) {
        return d;
    }
    for (int s = 0; s < MAX_SAMPLES_PER_INSTRUMENT; ++s) {
        const Sample* x = a.samples[s];
        const Sample* y = b.samples[s];
        if (s >= a.sampleCount) {
            if ((x == &emptySample) != (y == &emptySample)) {
                return "free slot " + std::to_string(s);
            }
            continue;
        }
        if (x == nullptr || y == nullptr) {
            if (x != y) {
                return "sample " + std::to_string(s) + " missing";
            }
            continue;
        }
        if (!(d = sampleDifference(*x, *y)).empty()) {
            return "sample " + std::to_string(s) + " " + d;
        }
    }
    return "";
}

} // namespace

std::string moduleDifference(const Module& a, const Module& b) {
    std::string d;
    if (!(d = differ("song length", a.songLength, b.songLength)).empty() ||
        !(d = differ("restart position", a.restartPosition, b.restartPosition)).empty() ||
        !(d = differ("channels", a.channelCount, b.channelCount)).empty() ||
        !(d = differ("used patterns", a.usedPatternCount, b.usedPatternCount)).empty() ||
        !(d = differ("pattern slots", a.patternSlotCount, b.patternSlotCount)).empty() ||
        !(d = differ("instruments", a.instrumentCount, b.instrumentCount)).empty() ||
        !(d = differ("flags", a.flags, b.flags)).empty() ||
        !(d = differ("speed", a.defaultSpeed, b.defaultSpeed)).empty() ||
        !(d = differ("BPM", a.defaultBpm, b.defaultBpm)).empty() ||
        !(d = differ("global volume", +a.initialGlobalVolume, +b.initialGlobalVolume)).empty()) {
        return d;
    }
    if (std::memcmp(a.orderTable, b.orderTable, sizeof a.orderTable) != 0) {
        return "order table";
    }
    for (int p = 0; p < a.patternSlotCount; ++p) {
        const Pattern& x = a.patterns[p];
        const Pattern& y = b.patterns[p];
        if (!(d = differ("rows", x.rowCount, y.rowCount)).empty()) {
            return "pattern " + std::to_string(p) + " " + d;
        }
        const int cells = x.rowCount * a.channelCount;
        for (int c = 0; c < cells; ++c) {
            if (std::memcmp(&x.cells[c], &y.cells[c], sizeof(PatternCell)) != 0) {
                return "pattern " + std::to_string(p) + " row " +
                       std::to_string(c / a.channelCount) + " channel " +
                       std::to_string(c % a.channelCount);
            }
        }
    }
    for (int i = 0; i < a.instrumentCount; ++i) {
        if (!(d = instrumentDifference(a.instruments[i], b.instruments[i])).empty()) {
            return "instrument " + std::to_string(i + 1) + " " + d;
        }
    }
    return "";
}

} // namespace tessivane::music
