#include "music/module.h"

#include "music/module_internal.h"

#include <cstdlib>

namespace tessivane::music {

Sample emptySample{};
Instrument emptyInstrument{};

namespace {

ModuleStopRoutine stopRoutine = nullptr;

} // namespace

void setModuleStopRoutine(ModuleStopRoutine routine) {
    stopRoutine = routine;
}

bool freeModule(Module* module) {
    if (module == nullptr) {
        return false;
    }
    if (stopRoutine != nullptr) {
        stopRoutine(module);
    }
    detail::releaseModule(module);
    return true;
}

namespace detail {

void releaseModule(Module* module) {
    if (module->instruments != nullptr) {
        for (int i = 0; i < module->instrumentCount; ++i) {
            Instrument& instrument = module->instruments[i];
            // Slots from sampleCount on are borrowed; slots not yet filled are null.
            const int owned = instrument.sampleCount < MAX_SAMPLES_PER_INSTRUMENT
                                  ? instrument.sampleCount
                                  : MAX_SAMPLES_PER_INSTRUMENT;
            for (int s = 0; s < owned; ++s) {
                Sample* sample = instrument.samples[s];
                if (sample != nullptr && sample != &emptySample) {
                    std::free(sample->data);
                    std::free(sample);
                }
            }
        }
        std::free(module->instruments);
    }
    if (module->patterns != nullptr) {
        for (int p = 0; p < module->patternSlotCount; ++p) {
            std::free(module->patterns[p].cells);
        }
        std::free(module->patterns);
    }
    std::free(module);
}

} // namespace detail

} // namespace tessivane::music
