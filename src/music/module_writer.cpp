#include "music/module_writer.h"

#include "music/module.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tessivane::music {

namespace {

constexpr char SIGNATURE[] = "Extended Module: ";
constexpr char TRACKER_NAME[] = "Tessivane";
constexpr std::uint16_t FORMAT_VERSION = 0x0104;
constexpr std::uint32_t HEADER_SIZE = 276; // from its own field to the patterns
constexpr std::uint32_t PATTERN_HEADER_SIZE = 9;
constexpr std::uint32_t INSTRUMENT_HEADER_SIZE = 263; // the fields, then reserved bytes
constexpr std::uint32_t SAMPLE_HEADER_SIZE = 40;

std::string format(const char* pattern, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

    void u8(unsigned value) { out_.push_back(static_cast<std::uint8_t>(value)); }
    void u16(unsigned value) {
        u8(value & 0xFF);
        u8(value >> 8 & 0xFF);
    }
    void u32(std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    // text padded with pad (or cut) to size bytes.
    void text(const char* value, std::size_t size, char pad) {
        const std::size_t n = value == nullptr ? 0 : strnlen(value, size);
        out_.insert(out_.end(), value, value + n);
        out_.insert(out_.end(), size - n, static_cast<std::uint8_t>(pad));
    }
    void zeros(std::size_t count) { out_.insert(out_.end(), count, 0); }
    std::size_t size() const { return out_.size(); }
    void patchU16(std::size_t at, unsigned value) {
        out_[at] = static_cast<std::uint8_t>(value & 0xFF);
        out_[at + 1] = static_cast<std::uint8_t>(value >> 8 & 0xFF);
    }

private:
    std::vector<std::uint8_t>& out_;
};

// Checks what the file's fields can hold before anything is written.
std::string problemWith(const Module& module) {
    if (module.channelCount < 0 || module.songLength < 0 || module.restartPosition < 0 ||
        module.instrumentCount < 0 || module.defaultSpeed < 0 || module.defaultBpm < 0) {
        return "a negative count, position, speed or BPM";
    }
    if (module.patternSlotCount < 0 || module.patternSlotCount > 0xFFFF) {
        return format("%d patterns (at most 65535)", module.patternSlotCount);
    }
    if (module.patternSlotCount > 0 && module.patterns == nullptr) {
        return "no pattern array";
    }
    for (int p = 0; p < module.patternSlotCount; ++p) {
        const Pattern& pattern = module.patterns[p];
        if (pattern.rowCount < 0 || pattern.rowCount > 0xFFFF) {
            return format("pattern %d has %d rows (0 to 65535)", p, pattern.rowCount);
        }
        if (pattern.rowCount * module.channelCount > 0 && pattern.cells == nullptr) {
            return format("pattern %d has no cells", p);
        }
    }
    if (module.instrumentCount > 0 && module.instruments == nullptr) {
        return "no instrument array";
    }
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& instrument = module.instruments[i];
        const int number = i + 1;
        if (instrument.sampleCount < 0 || instrument.sampleCount > MAX_SAMPLES_PER_INSTRUMENT) {
            return format("instrument %d has %d samples (0 to %d)", number, instrument.sampleCount,
                          MAX_SAMPLES_PER_INSTRUMENT);
        }
        if (instrument.fadeout % 2 != 0) {
            return format("instrument %d: fadeout %u is odd (the file stores half of it)", number,
                          instrument.fadeout);
        }
        for (int s = 0; s < instrument.sampleCount; ++s) {
            const Sample* sample = instrument.samples[s];
            if (sample == nullptr) {
                return format("instrument %d has no sample %d", number, s);
            }
            const std::uint64_t width = sample->bits == 8 ? 1 : 2;
            if (width * sample->length > 0xFFFFFFFFu || width * sample->loopStart > 0xFFFFFFFFu ||
                width * sample->loopLength > 0xFFFFFFFFu) {
                return format("instrument %d sample %d is too long for the file", number, s);
            }
            if (sample->length > 0 && sample->data == nullptr) {
                return format("instrument %d sample %d has no data", number, s);
            }
            if (sample->panning < 0 || sample->panning > 255) {
                return format("instrument %d sample %d: panning %d (0 to 255)", number, s,
                              sample->panning);
            }
            if (sample->bits == 8) {
                for (std::uint32_t v = 0; v < sample->length; ++v) {
                    if ((sample->data[v] & 0xFF) != 0) {
                        return format("instrument %d sample %d: value %u does not fit 8 bits",
                                      number, s, v);
                    }
                }
            }
        }
    }
    return "";
}

void writeHeader(Writer& out, const Module& module, const char* title) {
    out.text(SIGNATURE, 17, ' ');
    out.text(title, 20, ' ');
    out.u8(0x1A);
    out.text(TRACKER_NAME, 20, ' ');
    out.u16(FORMAT_VERSION);
    out.u32(HEADER_SIZE);
    out.u16(static_cast<unsigned>(module.songLength));
    out.u16(static_cast<unsigned>(module.restartPosition));
    out.u16(static_cast<unsigned>(module.channelCount));
    out.u16(static_cast<unsigned>(module.patternSlotCount));
    out.u16(static_cast<unsigned>(module.instrumentCount));
    out.u16(module.flags);
    out.u16(static_cast<unsigned>(module.defaultSpeed));
    out.u16(static_cast<unsigned>(module.defaultBpm));
    for (std::uint8_t order : module.orderTable) {
        out.u8(order);
    }
}

// A cell with every field set is stored as its five bytes (its note has bit 7 clear); any
// other as a mask byte followed by the fields it names, an empty cell as the mask alone.
void writeCell(Writer& out, const PatternCell& cell) {
    const std::uint8_t note = cell.note == NOTE_KEY_OFF ? 97 : cell.note;
    const std::uint8_t fields[5] = {note, cell.instrument, cell.volume, cell.effect,
                                    cell.parameter};
    unsigned mask = 0x80;
    for (int f = 0; f < 5; ++f) {
        if (fields[f] != 0) {
            mask |= 1u << f;
        }
    }
    if (mask == 0x9F && note < 0x80) {
        for (std::uint8_t field : fields) {
            out.u8(field);
        }
        return;
    }
    out.u8(mask);
    for (int f = 0; f < 5; ++f) {
        if (fields[f] != 0) {
            out.u8(fields[f]);
        }
    }
}

bool writePattern(Writer& out, const Module& module, int number, std::string& error) {
    const Pattern& pattern = module.patterns[number];
    out.u32(PATTERN_HEADER_SIZE);
    out.u8(0); // packing type
    out.u16(static_cast<unsigned>(pattern.rowCount));
    const std::size_t sizeAt = out.size();
    out.u16(0);
    const int cellCount = pattern.rowCount * module.channelCount;
    bool empty = true;
    for (int i = 0; i < cellCount && empty; ++i) {
        const PatternCell& c = pattern.cells[i];
        empty =
            c.note == 0 && c.instrument == 0 && c.volume == 0 && c.effect == 0 && c.parameter == 0;
    }
    // An empty pattern has no data at all.
    if (empty) {
        return true;
    }
    const std::size_t start = out.size();
    for (int i = 0; i < cellCount; ++i) {
        writeCell(out, pattern.cells[i]);
    }
    const std::size_t packed = out.size() - start;
    if (packed > 0xFFFF) {
        error = format("pattern %d packs to %zu bytes (at most 65535)", number, packed);
        return false;
    }
    out.patchU16(sizeAt, static_cast<unsigned>(packed));
    return true;
}

void writeEnvelope(Writer& out, const EnvelopePoint* points) {
    for (int p = 0; p < MAX_ENVELOPE_POINTS; ++p) {
        out.u16(points[p].position);
        out.u16(points[p].value);
    }
}

void writeSampleHeader(Writer& out, const Sample& sample) {
    const std::uint32_t width = sample.bits == 8 ? 1 : 2;
    out.u32(sample.length * width);
    out.u32(sample.loopStart * width);
    out.u32(sample.loopLength * width);
    out.u8(sample.volume);
    out.u8(static_cast<std::uint8_t>(sample.finetune));
    unsigned type = sample.bits == 8 ? 0x00 : 0x10;
    if ((sample.loopMode & LOOP_FORWARD) != 0) {
        type |= 0x01;
    }
    if ((sample.loopMode & LOOP_PING_PONG) != 0) {
        type |= 0x02;
    }
    out.u8(type);
    out.u8(static_cast<unsigned>(sample.panning));
    out.u8(static_cast<std::uint8_t>(sample.relativeNote));
    out.zeros(1 + 22); // reserved, name
}

// Each value is stored as its difference from the one before, modulo the sample's width.
void writeSampleData(Writer& out, const Sample& sample) {
    std::uint16_t previous = 0;
    for (std::uint32_t v = 0; v < sample.length; ++v) {
        const auto value = static_cast<std::uint16_t>(sample.data[v]);
        const auto delta = static_cast<std::uint16_t>(value - previous);
        previous = value;
        if (sample.bits == 8) {
            out.u8(delta >> 8);
        } else {
            out.u16(delta);
        }
    }
}

void writeInstrument(Writer& out, const Instrument& instrument) {
    const std::size_t start = out.size();
    out.u32(INSTRUMENT_HEADER_SIZE);
    out.zeros(22); // name
    out.u8(0);     // type
    out.u16(static_cast<unsigned>(instrument.sampleCount));
    out.u32(SAMPLE_HEADER_SIZE);
    for (std::uint8_t slot : instrument.noteSample) {
        out.u8(slot);
    }
    writeEnvelope(out, instrument.volumeEnvelope);
    writeEnvelope(out, instrument.panningEnvelope);
    for (std::uint8_t field :
         {instrument.volumePointCount, instrument.panningPointCount, instrument.volumeSustain,
          instrument.volumeLoopStart, instrument.volumeLoopEnd, instrument.panningSustain,
          instrument.panningLoopStart, instrument.panningLoopEnd, instrument.volumeType,
          instrument.panningType, instrument.vibratoType, instrument.vibratoSweep,
          instrument.vibratoDepth, instrument.vibratoRate}) {
        out.u8(field);
    }
    out.u16(instrument.fadeout / 2u);
    out.zeros(INSTRUMENT_HEADER_SIZE - (out.size() - start));
    for (int s = 0; s < instrument.sampleCount; ++s) {
        writeSampleHeader(out, *instrument.samples[s]);
    }
    for (int s = 0; s < instrument.sampleCount; ++s) {
        writeSampleData(out, *instrument.samples[s]);
    }
}

} // namespace

bool writeModule(const Module& module, std::vector<std::uint8_t>& bytes, std::string& error,
                 const char* title) {
    bytes.clear();
    error = problemWith(module);
    if (!error.empty()) {
        return false;
    }
    Writer out(bytes);
    writeHeader(out, module, title);
    for (int p = 0; p < module.patternSlotCount; ++p) {
        if (!writePattern(out, module, p, error)) {
            bytes.clear();
            return false;
        }
    }
    for (int i = 0; i < module.instrumentCount; ++i) {
        writeInstrument(out, module.instruments[i]);
    }
    return true;
}

} // namespace tessivane::music
