#include "audio/playback.h"

#include "audio/output.h"
#include "music/module.h"
#include "music/resource_stream.h"
#include "platform/platform.h"

#include <string>

namespace tessivane::audio {

namespace {

music::Module* musicModule = nullptr;
std::string problem;

} // namespace

bool musicStart() {
    if (musicModule != nullptr) {
        musicStop();
    }
    problem.clear();
    music::useResourceStreams();
    if (!outputInit(OUTPUT_RATE)) {
        problem = std::string("no sound device: playing without music (") +
                  platform::lastPlatformError() + ")";
        return false;
    }
    musicModule = music::loadModule(music::moduleResourceName());
    if (musicModule == nullptr) {
        problem = std::string("the music cannot be loaded (") + music::lastModuleError() +
                  "): playing without music";
        return false;
    }
    if (!playModule(musicModule)) {
        problem = "the music cannot be played (out of memory or threads): playing without music";
        return false;
    }
    return true;
}

void musicStop() {
    stopModule(musicModule);
    outputClose();
    if (musicModule != nullptr) {
        music::freeModule(musicModule);
        musicModule = nullptr;
    }
}

const char* musicProblem() {
    return problem.c_str();
}

} // namespace tessivane::audio
