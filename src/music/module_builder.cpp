#include "music/module_builder.h"

#include "music/module_internal.h"
#include "music/replay.h"

#include <cstdlib>

namespace tessivane::music {

Module* createModule(int channelCount, int patternCount, int rowsPerPattern, int instrumentCount) {
    if (channelCount < 0 || channelCount > 32 || patternCount < 1 || patternCount > 256 ||
        rowsPerPattern < 1 || rowsPerPattern > 256 || instrumentCount < 0 ||
        instrumentCount > 128) {
        return nullptr;
    }
    auto* module = static_cast<Module*>(std::calloc(1, sizeof(Module)));
    if (module == nullptr) {
        return nullptr;
    }
    module->channelCount = static_cast<std::int16_t>(channelCount);
    module->songLength = 1;
    module->usedPatternCount = 1;
    module->flags = FLAG_LINEAR_FREQUENCIES;
    module->defaultSpeed = 6;
    module->defaultBpm = 125;
    module->initialGlobalVolume = 64;
    module->tickHandler = replayTick;
    module->patterns = static_cast<Pattern*>(std::calloc(patternCount, sizeof(Pattern)));
    if (module->patterns == nullptr) {
        detail::releaseModule(module);
        return nullptr;
    }
    for (int p = 0; p < patternCount; ++p) {
        module->patternSlotCount = p + 1;
        Pattern& pattern = module->patterns[p];
        pattern.rowCount = rowsPerPattern;
        if (channelCount > 0) {
            pattern.cells = static_cast<PatternCell*>(std::calloc(
                static_cast<std::size_t>(rowsPerPattern) * channelCount, sizeof(PatternCell)));
            if (pattern.cells == nullptr) {
                detail::releaseModule(module);
                return nullptr;
            }
        }
    }
    if (instrumentCount > 0) {
        module->instruments =
            static_cast<Instrument*>(std::calloc(instrumentCount, sizeof(Instrument)));
        if (module->instruments == nullptr) {
            detail::releaseModule(module);
            return nullptr;
        }
        module->instrumentCount = static_cast<std::int16_t>(instrumentCount);
        for (int i = 0; i < instrumentCount; ++i) {
            for (Sample*& slot : module->instruments[i].samples) {
                slot = &emptySample;
            }
        }
    }
    return module;
}

bool setOrders(Module& module, std::initializer_list<int> orders) {
    if (orders.size() == 0 || orders.size() > 256) {
        return false;
    }
    int used = 0;
    for (int order : orders) {
        if (order < 0 || order >= module.patternSlotCount || order > 255) {
            return false;
        }
        used = order + 1 > used ? order + 1 : used;
    }
    int i = 0;
    for (int order : orders) {
        module.orderTable[i++] = static_cast<std::uint8_t>(order);
    }
    module.songLength = static_cast<std::int16_t>(orders.size());
    module.usedPatternCount = used;
    if (module.restartPosition >= module.songLength) {
        module.restartPosition = 0;
    }
    return true;
}

PatternCell& cellAt(Module& module, int pattern, int row, int channel) {
    return module.patterns[pattern].cells[row * module.channelCount + channel];
}

Sample* addSample(Instrument& instrument, std::uint32_t length) {
    if (instrument.sampleCount >= MAX_SAMPLES_PER_INSTRUMENT) {
        return nullptr;
    }
    auto* sample = static_cast<Sample*>(std::calloc(1, sizeof(Sample)));
    if (sample == nullptr) {
        return nullptr;
    }
    if (length > 0) {
        sample->data = static_cast<std::int16_t*>(
            std::calloc(std::size_t{length} + SAMPLE_PADDING, sizeof(std::int16_t)));
        if (sample->data == nullptr) {
            std::free(sample);
            return nullptr;
        }
    }
    sample->length = length;
    sample->loopStart = 0;
    sample->loopLength = length;
    sample->loopMode = LOOP_NONE;
    sample->bits = 16;
    sample->volume = 64;
    sample->panning = 128;
    instrument.samples[instrument.sampleCount++] = sample;
    return sample;
}

} // namespace tessivane::music
