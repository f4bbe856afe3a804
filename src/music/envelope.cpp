// Volume and panning envelopes: straight lines between points in 16.16 steps, with a
// sustain point that holds until key off and a loop that jumps back when its end is reached.
//
// Point values beyond 64 and positions out of order are taken from the file as they are;
// values are read as at most 64 and levels kept within 0..64, so that a strange envelope
// only sounds strange, and the sums wrap instead of overflowing.
#include "music/channel.h"
#include "music/effects.h"
#include "music/module.h"

#include <algorithm>
#include <cstdint>

namespace tessivane::music {

namespace {

constexpr std::int32_t FULL_LEVEL = 64;

struct EnvelopeView {
    const EnvelopePoint* points;
    int count;
    int sustain;
    int loopStart;
    int loopEnd;
    std::uint8_t type;
    std::int32_t& tick;
    std::int32_t& point;
    std::int32_t& value;
    std::int32_t& level;
    std::int32_t& slope;
    std::uint8_t& done;
    std::uint8_t flag;
};

EnvelopeView view(ChannelState& c, const Instrument& i, Envelope envelope) {
    if (envelope == Envelope::Volume) {
        return {i.volumeEnvelope, std::min<int>(i.volumePointCount, MAX_ENVELOPE_POINTS),
                i.volumeSustain,  i.volumeLoopStart,
                i.volumeLoopEnd,  i.volumeType,
                c.volumeEnvTick,  c.volumeEnvPoint,
                c.volumeEnvValue, c.volumeEnvLevel,
                c.volumeEnvSlope, c.volumeEnvDone,
                UPDATE_VOLUME};
    }
    return {i.panningEnvelope, std::min<int>(i.panningPointCount, MAX_ENVELOPE_POINTS),
            i.panningSustain,  i.panningLoopStart,
            i.panningLoopEnd,  i.panningType,
            c.panningEnvTick,  c.panningEnvPoint,
            c.panningEnvValue, c.panningEnvLevel,
            c.panningEnvSlope, c.panningEnvDone,
            UPDATE_PANNING};
}

std::int32_t valueOf(const EnvelopePoint& point) {
    return std::min<std::int32_t>(point.value, FULL_LEVEL);
}

std::int32_t levelOf(std::int32_t value) {
    return std::clamp(value >> 16, 0, FULL_LEVEL);
}

// The 16.16 change per tick from point a to point b; 0 when they share a position.
std::int32_t slopeBetween(const EnvelopePoint& a, const EnvelopePoint& b) {
    const std::int32_t dx = b.position - a.position;
    if (dx == 0) {
        return 0;
    }
    return static_cast<std::int32_t>(std::int64_t{valueOf(b) - valueOf(a)} * 65536 / dx);
}

std::int32_t wrappingAdd(std::int32_t a, std::int64_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

} // namespace

void stepEnvelope(ChannelState& channel, const Instrument& instrument, Envelope envelope) {
    EnvelopeView e = view(channel, instrument, envelope);
    if (e.point >= 0 && e.point < e.count) {
        if (e.tick == e.points[e.point].position) {
            // The loop jumps back before its end point's segment starts, and before the end
            // test, so a loop ending on the last point loops.
            if ((e.type & ENVELOPE_LOOP) != 0 && e.point == e.loopEnd && e.loopStart < e.count) {
                e.point = e.loopStart;
                e.tick = e.points[e.loopStart].position;
            }
            if (e.point == e.count - 1) {
                e.level = levelOf(valueOf(e.points[e.point]) << 16);
                e.done = 1;
                channel.updateFlags |= e.flag;
                return;
            }
            if ((e.type & ENVELOPE_SUSTAIN) != 0 && e.point == e.sustain && channel.keyOff == 0) {
                // Held here, the tick not moving, until key off.
                e.level = levelOf(valueOf(e.points[e.point]) << 16);
                channel.updateFlags |= e.flag;
                return;
            }
            e.slope = slopeBetween(e.points[e.point], e.points[e.point + 1]);
            e.value = valueOf(e.points[e.point]) * 65536;
            e.point += 1;
        } else {
            e.value = wrappingAdd(e.value, e.slope);
        }
    }
    e.level = levelOf(e.value);
    e.tick = wrappingAdd(e.tick, 1);
    channel.updateFlags |= e.flag;
}

void setEnvelopePosition(ChannelState& channel, const Instrument& instrument,
                         std::uint8_t position) {
    EnvelopeView e = view(channel, instrument, Envelope::Volume);
    if (e.count < 1) {
        return;
    }
    const int t = position;
    // The segment j -> j + 1 that holds t; the search stops at the last point, which is
    // where it ends whenever t lies beyond it.
    int j = 0;
    while (j + 1 < e.count && t > e.points[j + 1].position) {
        ++j;
    }
    if (j >= e.count - 1) {
        e.level = levelOf(valueOf(e.points[e.count - 1]) << 16);
        e.done = 1;
        return;
    }
    e.done = 0;
    e.tick = t;
    e.slope = slopeBetween(e.points[j], e.points[j + 1]);
    e.point = j + 1;
    e.value =
        wrappingAdd(valueOf(e.points[j]) * 65536, std::int64_t{t - e.points[j].position} * e.slope);
    e.level = levelOf(e.value);
}

} // namespace tessivane::music
