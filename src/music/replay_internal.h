// Inside the replay only: what its parts share.
#pragma once

#include "music/channel.h"
#include "music/module.h"
#include "music/voice.h"

namespace tessivane::music::detail {

// The row the last row tick played. The later ticks of the row read its cells even when a
// pattern loop has since moved the module's row.
struct PlayedRow {
    int order;
    int row;
};
extern PlayedRow playedRow;

// The channel's instrument and sample, from its instrument number and key note; the empty
// ones for numbers the module does not have.
struct ChannelSound {
    const Instrument* instrument;
    Sample* sample;
};
ChannelSound channelSound(const Module& module, const ChannelState& channel);

// The voice a channel plays on; a channel never pointed at one plays on voice c.
inline void ensureVoice(ChannelState& channel, int c) {
    if (channel.voice == nullptr) {
        channel.voice = &voices[c];
    }
}

} // namespace tessivane::music::detail
