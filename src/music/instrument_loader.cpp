// Reading the instruments of an XM file and their samples: converted to 16-bit values with
// the guard value at the loop end, and checked like the rest of the file (see
// module_loader.cpp).
#include "music/load_support.h"
#include "music/module.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tessivane::music::detail {

namespace {

constexpr int INSTRUMENT_HEAD_SIZE = 29;  // size, name, type, sample count
constexpr int INSTRUMENT_REST_SIZE = 212; // sample header size .. fadeout
constexpr int SAMPLE_HEADER_SIZE = 40;

struct SampleHeader {
    std::uint32_t fileBytes; // the sample's data in the file, odd byte included
};

class InstrumentLoader : public LoaderBase {
public:
    using LoaderBase::LoaderBase;
    bool load();

private:
    bool instrument(int number, Instrument& instrument);
    bool sampleData(int number, Instrument& instrument, int count, const SampleHeader* headers);
};

bool InstrumentLoader::load() {
    const int count = module_->instrumentCount;
    // Counted up as instruments are read, so that a failure releases exactly those.
    module_->instrumentCount = 0;
    if (!allocate(module_->instruments, static_cast<std::size_t>(count))) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        module_->instrumentCount = static_cast<std::int16_t>(i + 1);
        if (!instrument(i + 1, module_->instruments[i])) {
            return false;
        }
    }
    return true;
}

// An envelope loop whose points are not among the envelope's points would send the replay
// outside the point table: such a loop is switched off.
void checkEnvelope(std::uint8_t& pointCount, std::uint8_t& type, std::uint8_t loopStart,
                   std::uint8_t loopEnd) {
    // The point table holds 12; more cannot be stored.
    if (pointCount > MAX_ENVELOPE_POINTS) {
        pointCount = MAX_ENVELOPE_POINTS;
    }
    if ((type & ENVELOPE_LOOP) != 0 && (loopStart >= pointCount || loopEnd >= pointCount)) {
        type = static_cast<std::uint8_t>(type & ~ENVELOPE_LOOP);
    }
    if (pointCount < 2) {
        type = 0;
    }
}

bool InstrumentLoader::instrument(int number, Instrument& instrument) {
    const std::int64_t start = in_.position();
    std::uint8_t head[INSTRUMENT_HEAD_SIZE];
    if (!in_.read(head, sizeof head)) {
        return fail(format("truncated in instrument %d", number));
    }
    const std::uint32_t headerSize = u32(head);
    const unsigned sampleCount = u16(head + 27);
    if (sampleCount > MAX_SAMPLES_PER_INSTRUMENT) {
        return fail(format("instrument %d has %u samples (at most %d)", number, sampleCount,
                           MAX_SAMPLES_PER_INSTRUMENT));
    }
    instrument.sampleCount = static_cast<std::int32_t>(sampleCount);

    if (sampleCount == 0) {
        for (Sample*& slot : instrument.samples) {
            slot = &emptySample;
        }
        // A header size shorter than what was read would step back into this header.
        if (!in_.seek(start + std::max<std::int64_t>(headerSize, INSTRUMENT_HEAD_SIZE))) {
            return fail(format("truncated in instrument %d", number));
        }
        return true;
    }

    std::uint8_t rest[INSTRUMENT_REST_SIZE];
    if (!in_.read(rest, sizeof rest)) {
        return fail(format("truncated in instrument %d", number));
    }
    const std::uint32_t sampleHeaderSize = u32(rest);
    std::memcpy(instrument.noteSample, rest + 4, NOTE_COUNT);
    for (int p = 0; p < MAX_ENVELOPE_POINTS; ++p) {
        const std::uint8_t* volume = rest + 100 + 4 * p;
        const std::uint8_t* panning = rest + 148 + 4 * p;
        instrument.volumeEnvelope[p] = {u16(volume), u16(volume + 2)};
        instrument.panningEnvelope[p] = {u16(panning), u16(panning + 2)};
    }
    const std::uint8_t* fields = rest + 196;
    instrument.volumePointCount = fields[0];
    instrument.panningPointCount = fields[1];
    instrument.volumeSustain = fields[2];
    instrument.volumeLoopStart = fields[3];
    instrument.volumeLoopEnd = fields[4];
    instrument.panningSustain = fields[5];
    instrument.panningLoopStart = fields[6];
    instrument.panningLoopEnd = fields[7];
    instrument.volumeType = fields[8];
    instrument.panningType = fields[9];
    instrument.vibratoType = fields[10];
    instrument.vibratoSweep = fields[11];
    instrument.vibratoDepth = fields[12];
    instrument.vibratoRate = fields[13];
    // The file stores half the amount, and the doubled value keeps 16 bits.
    instrument.fadeout = static_cast<std::uint16_t>(u16(fields + 14) * 2);
    checkEnvelope(instrument.volumePointCount, instrument.volumeType, instrument.volumeLoopStart,
                  instrument.volumeLoopEnd);
    checkEnvelope(instrument.panningPointCount, instrument.panningType, instrument.panningLoopStart,
                  instrument.panningLoopEnd);

    // Sample headers follow the instrument header; each is at least the 40 bytes read, and
    // a larger stated size is skipped over.
    const std::int64_t headersStart =
        start + std::max<std::int64_t>(headerSize, INSTRUMENT_HEAD_SIZE + INSTRUMENT_REST_SIZE);
    const std::int64_t stride = std::max<std::int64_t>(sampleHeaderSize, SAMPLE_HEADER_SIZE);
    if (!in_.holds(headersStart, stride * sampleCount)) {
        return fail(format("truncated in instrument %d", number));
    }

    SampleHeader headers[MAX_SAMPLES_PER_INSTRUMENT];
    std::int64_t dataBytes = 0;
    for (unsigned s = 0; s < sampleCount; ++s) {
        std::uint8_t h[SAMPLE_HEADER_SIZE];
        if (!in_.seek(headersStart + stride * s) || !in_.read(h, sizeof h)) {
            return fail(format("truncated in instrument %d", number));
        }
        headers[s].fileBytes = u32(h);
        dataBytes += u32(h);

        // Allocated zero-filled and put in its slot at once, so a failure releases it.
        Sample* sample = nullptr;
        if (!allocate(sample, 1)) {
            return false;
        }
        instrument.samples[s] = sample;
        std::uint32_t length = u32(h);
        std::uint32_t loopStart = u32(h + 4);
        std::uint32_t loopLength = u32(h + 8);
        sample->volume = h[12];
        sample->finetune = static_cast<std::int8_t>(h[13]);
        const std::uint8_t type = h[14];
        sample->loopMode = LOOP_NONE;
        if ((type & 0x01) != 0) {
            sample->loopMode = LOOP_FORWARD;
        }
        if ((type & 0x02) != 0) {
            sample->loopMode = LOOP_PING_PONG; // wins when both bits are set
        }
        sample->bits = (type & 0x10) != 0 ? 16 : 8;
        if (sample->loopMode == LOOP_NONE) {
            loopStart = 0;
            loopLength = length;
        }
        if (sample->bits == 16) {
            // Bytes to values; an odd byte is no whole value.
            length /= 2;
            loopStart /= 2;
            loopLength /= 2;
        }
        if (loopLength == 0) {
            loopStart = 0;
            loopLength = length;
            sample->loopMode = LOOP_NONE;
        }
        // The mixer plays the loop and reads its guard value from the sample's data: a loop
        // reaching beyond the sample is cut at the sample's end, and one starting at or
        // beyond the end is no loop at all.
        if (sample->loopMode != LOOP_NONE &&
            std::uint64_t{loopStart} + loopLength > std::uint64_t{length}) {
            if (loopStart >= length) {
                loopStart = 0;
                loopLength = length;
                sample->loopMode = LOOP_NONE;
            } else {
                loopLength = length - loopStart;
            }
        }
        sample->length = length;
        sample->loopStart = loopStart;
        sample->loopLength = loopLength;
        sample->panning = h[15];
        sample->relativeNote = static_cast<std::int8_t>(h[16]);
    }
    for (unsigned s = sampleCount; s < MAX_SAMPLES_PER_INSTRUMENT; ++s) {
        instrument.samples[s] = &emptySample;
    }

    // All the data must be there before any of it is allocated.
    const std::int64_t dataStart = headersStart + stride * sampleCount;
    if (!in_.holds(dataStart, dataBytes) || !in_.seek(dataStart)) {
        return fail(format("truncated in the sample data of instrument %d", number));
    }
    return sampleData(number, instrument, static_cast<int>(sampleCount), headers);
}

// Reads the instrument's sample data, stored one sample after another and delta-coded, into
// 16-bit values with the guard value at the loop end.
bool InstrumentLoader::sampleData(int number, Instrument& instrument, int count,
                                  const SampleHeader* headers) {
    for (int s = 0; s < count; ++s) {
        Sample& sample = *instrument.samples[s];
        const std::uint32_t fileBytes = headers[s].fileBytes;
        if (sample.length == 0) {
            // Nothing to play, but a 16-bit sample of one byte still has that byte in the file.
            if (!in_.seek(in_.position() + fileBytes)) {
                return fail(format("truncated in the sample data of instrument %d", number));
            }
            sample.bits = 16;
            continue;
        }
        if (!allocate(sample.data, std::size_t{sample.length} + SAMPLE_PADDING)) {
            return false;
        }
        const std::size_t length = sample.length;
        const std::size_t bytes = sample.bits == 16 ? 2 * length : length;
        // Read into the data's own storage: each value is only written after its bytes have
        // been read, and never over bytes still to be read.
        auto* raw = reinterpret_cast<std::uint8_t*>(sample.data);
        if (sample.bits == 16) {
            if (!in_.read(raw, static_cast<std::int64_t>(bytes))) {
                return fail(format("truncated in the sample data of instrument %d", number));
            }
            std::uint16_t sum = 0;
            for (std::size_t i = 0; i < length; ++i) {
                const auto delta = static_cast<std::uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
                sum = static_cast<std::uint16_t>(sum + delta);
                sample.data[i] = static_cast<std::int16_t>(sum);
            }
        } else {
            // 8-bit bytes go into bytes length..2 length - 1, then are widened front to back:
            // value i is written over bytes 2i and 2i+1, which are at most byte length + i,
            // the one just read; every byte written over has been read.
            std::uint8_t* upper = raw + length;
            if (!in_.read(upper, static_cast<std::int64_t>(bytes))) {
                return fail(format("truncated in the sample data of instrument %d", number));
            }
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < length; ++i) {
                sum = static_cast<std::uint8_t>(sum + upper[i]);
                sample.data[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(sum << 8));
            }
        }
        // A 16-bit sample of an odd number of bytes still occupies them all in the file.
        if (bytes < fileBytes && !in_.seek(in_.position() + (fileBytes - bytes))) {
            return fail(format("truncated in the sample data of instrument %d", number));
        }
        sample.bits = 16;
        const std::uint32_t loopEnd = sample.loopStart + sample.loopLength;
        if (sample.loopMode == LOOP_PING_PONG) {
            sample.data[loopEnd] = sample.data[loopEnd - 1];
        } else if (sample.loopMode == LOOP_FORWARD) {
            sample.data[loopEnd] = sample.data[sample.loopStart];
        }
    }
    return true;
}

} // namespace

bool loadInstruments(Module* module, Reader& in, std::string& error) {
    InstrumentLoader loader(module, in);
    if (!loader.load()) {
        error = loader.error();
        return false;
    }
    return true;
}

} // namespace tessivane::music::detail
