#include "music/song_length.h"

#include "music/channel.h"
#include "music/module.h"
#include "music/replay.h"
#include "music/replay_internal.h"
#include "music/voice.h"

#include <algorithm>
#include <bitset>
#include <memory>
#include <vector>

namespace tessivane::music {

namespace {

constexpr int MAX_ORDERS = 256;
constexpr int MAX_ROWS = 256;
constexpr std::uint8_t EFFECT_EXTENDED = 14;
constexpr std::uint8_t EFFECT_JUMP = 11;
constexpr std::uint8_t EFFECT_BREAK = 13;

// Everything a measurement changes, put back when it ends.
class SavedState {
public:
    explicit SavedState(Module& module)
        : module_(module), saved_(module), rate_(sampleRate), playedRow_(detail::playedRow) {
        std::copy(std::begin(channels), std::end(channels), channels_.get());
        std::copy(std::begin(voices), std::end(voices), voices_.get());
        forEachSample([this](Sample& sample) { finetunes_.push_back(sample.finetune); });
    }
    ~SavedState() {
        module_ = saved_;
        sampleRate = rate_;
        detail::playedRow = playedRow_;
        std::copy(channels_.get(), channels_.get() + CHANNEL_COUNT, channels);
        std::copy(voices_.get(), voices_.get() + VOICE_COUNT, voices);
        std::size_t i = 0;
        forEachSample([this, &i](Sample& sample) { sample.finetune = finetunes_[i++]; });
    }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    template <typename F>
    void forEachSample(F f) {
        for (int i = 0; module_.instruments != nullptr && i < module_.instrumentCount; ++i) {
            const Instrument& instrument = module_.instruments[i];
            for (Sample* sample : instrument.samples) {
                if (sample != nullptr && sample != &emptySample) {
                    f(*sample);
                }
            }
        }
    }

    Module& module_;
    Module saved_;
    int rate_;
    detail::PlayedRow playedRow_;
    std::unique_ptr<ChannelState[]> channels_ = std::make_unique<ChannelState[]>(CHANNEL_COUNT);
    std::unique_ptr<Voice[]> voices_ = std::make_unique<Voice[]>(VOICE_COUNT);
    std::vector<std::int8_t> finetunes_;
};

// Whether the row can send the song back by a pattern loop (E6y with y > 0) and holds no
// jump or break, which would take precedence.
bool loopsBack(const Module& module, int order, int row) {
    const PatternCell* cells = rowCells(module, order, row);
    if (cells == nullptr) {
        return false;
    }
    bool loop = false;
    for (int c = 0; c < std::min<int>(module.channelCount, CHANNEL_COUNT); ++c) {
        const PatternCell& cell = cells[c];
        if (cell.effect == EFFECT_JUMP || cell.effect == EFFECT_BREAK) {
            return false;
        }
        loop = loop || (cell.effect == EFFECT_EXTENDED && (cell.parameter >> 4) == 0x6 &&
                        (cell.parameter & 15) != 0);
    }
    return loop;
}

} // namespace

SongLength measureSongLength(Module& module, int rate, std::uint64_t limitFrames) {
    SavedState saved(module);
    sampleRate = rate;
    clearVoices();
    resetPlayback(module);
    auto visited = std::make_unique<std::bitset<MAX_ORDERS * MAX_ROWS>>();
    int lastOrder = -1;
    int lastRow = -1;
    bool lastLoops = false;
    std::uint64_t frames = 0;
    while (frames < limitFrames) {
        if (module.tick == 0) {
            int order = 0;
            int row = 0;
            upcomingRow(module, order, row);
            if (lastLoops && order == lastOrder && row <= lastRow) {
                // A pattern loop plays these rows again: they are new each time round.
                for (int r = row; r <= lastRow; ++r) {
                    visited->reset(static_cast<std::size_t>(order * MAX_ROWS + r));
                }
            }
            const auto at = static_cast<std::size_t>(order * MAX_ROWS + row);
            if (visited->test(at)) {
                return {frames, true};
            }
            visited->set(at);
            lastOrder = order;
            lastRow = row;
            lastLoops = loopsBack(module, order, row);
        }
        replayTick(&module);
        frames += static_cast<std::uint64_t>(module.samplesPerTick);
    }
    return {limitFrames, false};
}

} // namespace tessivane::music
