#include "composer.h"

#include "arrangement.h"
#include "instruments.h"
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"

namespace tessivane::composer {

namespace {

constexpr int SPEED = 6;
// 2.5 / 200 s a tick, six ticks a row: 75 ms a row, 4.8 s a pattern, 96 s the song.
constexpr int BPM = 200;

} // namespace

music::Module* composeModule(std::string& error) {
    music::Module* module = music::createModule(CHANNELS, PATTERNS, ROWS, INSTRUMENT_COUNT);
    if (module == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    module->defaultSpeed = SPEED;
    module->defaultBpm = BPM;
    module->restartPosition = 0;
    const std::vector<int>& orders = songOrders();
    module->songLength = static_cast<std::int16_t>(orders.size());
    module->usedPatternCount = 0;
    for (std::size_t i = 0; i < orders.size(); ++i) {
        module->orderTable[i] = static_cast<std::uint8_t>(orders[i]);
        if (orders[i] + 1 > module->usedPatternCount) {
            module->usedPatternCount = orders[i] + 1;
        }
    }
    for (int n = 1; n <= INSTRUMENT_COUNT; ++n) {
        if (!makeInstrument(module->instruments[n - 1], static_cast<InstrumentNumber>(n))) {
            error = "out of memory making instrument " + std::to_string(n);
            music::freeModule(module);
            return nullptr;
        }
    }
    if (!writeArrangement(*module, error)) {
        error = "the score has a mistake: " + error;
        music::freeModule(module);
        return nullptr;
    }
    return module;
}

bool composeModuleFile(std::vector<std::uint8_t>& bytes, std::string& error) {
    music::Module* module = composeModule(error);
    if (module == nullptr) {
        return false;
    }
    const bool written = music::writeModule(*module, bytes, error, MUSIC_TITLE);
    music::freeModule(module);
    if (!written) {
        error = "cannot write the module: " + error;
    }
    return written;
}

} // namespace tessivane::composer
