// Reading an XM file into a Module: the header and the patterns here, the instruments in
// instrument_loader.cpp.
//
// The file is trusted for nothing: every read is checked against what the stream holds, and
// every count and size is checked before anything is allocated for it, so that a truncated
// or hostile file is rejected with a reason instead of being read past its end, and no
// allocation exceeds what the file's own bytes can describe. Where a file breaks a limit the
// replay and the mixer rely on, it is either rejected or repaired here (see the comments at
// each check), so that every module handed out is safe to play.
#include "music/load_support.h"
#include "music/module.h"
#include "music/module_internal.h"
#include "music/replay.h"
#include "music/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tessivane::music {

namespace detail {

std::string format(const char* pattern, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

} // namespace detail

namespace {

using namespace detail;

std::string lastError;

constexpr char SIGNATURE[] = "Extended Module: ";
constexpr int SIGNATURE_SIZE = 17;
// Offsets and sizes of the fixed parts of the file.
constexpr std::int64_t HEADER_SIZE_OFFSET = 60;
constexpr int HEADER_FIELDS_SIZE = 20; // header size .. default BPM
constexpr int ORDER_TABLE_SIZE = 256;
constexpr int PATTERN_HEADER_SIZE = 9;

// Limits of the format that the replay relies on.
constexpr unsigned MAX_CHANNELS = 32;
constexpr unsigned MAX_PATTERNS = 256;
constexpr unsigned MAX_ROWS = 256;
constexpr unsigned MAX_INSTRUMENTS = 128;
constexpr unsigned MAX_SONG_LENGTH = 256;
constexpr unsigned MAX_SPEED = 31;
constexpr unsigned MAX_BPM = 255;
// Rows given to a pattern the order table plays but the file leaves out or leaves empty.
constexpr int EMPTY_PATTERN_ROWS = 64;

class Loader : public LoaderBase {
public:
    using LoaderBase::LoaderBase;

    bool load() { return header() && patterns() && loadInstruments(module_, in_, error_); }

private:
    bool header();
    bool patterns();
    bool decodePattern(int number, Pattern& pattern, std::uint16_t packedSize);

    unsigned filePatternCount_ = 0;
    std::vector<std::uint8_t> scratch_;
};

bool Loader::header() {
    if (in_.size() == 0) {
        return fail("empty: not an XM module");
    }
    std::uint8_t signature[SIGNATURE_SIZE];
    if (!in_.read(signature, SIGNATURE_SIZE) ||
        std::memcmp(signature, SIGNATURE, SIGNATURE_SIZE) != 0) {
        return fail("not an XM module");
    }
    module_->tickHandler = replayTick;
    module_->initialGlobalVolume = 64;

    std::uint8_t fields[HEADER_FIELDS_SIZE + ORDER_TABLE_SIZE];
    if (!in_.seek(HEADER_SIZE_OFFSET) || !in_.read(fields, sizeof fields)) {
        return fail("truncated in the module header");
    }
    const std::uint32_t headerSize = u32(fields);
    const unsigned songLength = u16(fields + 4);
    unsigned restart = u16(fields + 6);
    const unsigned channels = u16(fields + 8);
    const unsigned patternCount = u16(fields + 10);
    const unsigned instrumentCount = u16(fields + 12);
    const unsigned flags = u16(fields + 14);
    const unsigned speed = u16(fields + 16);
    const unsigned bpm = u16(fields + 18);
    std::memcpy(module_->orderTable, fields + HEADER_FIELDS_SIZE, ORDER_TABLE_SIZE);

    // The order table holds 256 entries, and the replay plays from it without a bound.
    if (songLength == 0) {
        return fail("song length 0: no orders to play");
    }
    if (songLength > MAX_SONG_LENGTH) {
        return fail(format("song length %u (at most %u)", songLength, MAX_SONG_LENGTH));
    }
    // The replay has a channel table of 32.
    if (channels > MAX_CHANNELS) {
        return fail(format("%u channels (at most %u)", channels, MAX_CHANNELS));
    }
    // The order table can only reach patterns 0..255, and cells instruments 1..128.
    if (patternCount > MAX_PATTERNS) {
        return fail(format("%u patterns (at most %u)", patternCount, MAX_PATTERNS));
    }
    if (instrumentCount > MAX_INSTRUMENTS) {
        return fail(format("%u instruments (at most %u)", instrumentCount, MAX_INSTRUMENTS));
    }
    // Speeds from 32 on are what the set-speed effect reads as a BPM; a BPM of 0 would make
    // ticks endless and one above 255 is beyond the tempo effect's range.
    if (speed > MAX_SPEED) {
        return fail(format("speed %u (at most %u)", speed, MAX_SPEED));
    }
    if (bpm == 0 || bpm > MAX_BPM) {
        return fail(format("BPM %u (1 to %u)", bpm, MAX_BPM));
    }
    // The song continues at the restart position after its last order; one beyond the song
    // would play orders that are not part of it, so it starts over instead, as most players do.
    if (restart >= songLength) {
        restart = 0;
    }
    // The header size counts from its own field; the fields before the order table at least
    // are fixed. A smaller order table than 256 entries is allowed: the patterns then start
    // inside what was read as the order table, beyond the song's length.
    if (headerSize < HEADER_FIELDS_SIZE) {
        return fail(format("module header size %u (at least %d)", headerSize, HEADER_FIELDS_SIZE));
    }
    if (!in_.seek(HEADER_SIZE_OFFSET + headerSize)) {
        return fail("truncated in the module header");
    }

    module_->songLength = static_cast<std::int16_t>(songLength);
    module_->restartPosition = static_cast<std::int16_t>(restart);
    module_->channelCount = static_cast<std::int16_t>(channels);
    module_->instrumentCount = static_cast<std::int16_t>(instrumentCount);
    module_->flags = static_cast<std::uint16_t>(flags);
    module_->defaultSpeed = static_cast<std::int16_t>(speed);
    module_->defaultBpm = static_cast<std::int16_t>(bpm);
    filePatternCount_ = patternCount;

    int used = 0;
    for (unsigned i = 0; i < songLength; ++i) {
        used = std::max(used, module_->orderTable[i] + 1);
    }
    module_->usedPatternCount = used;
    module_->patternSlotCount = std::max(static_cast<int>(patternCount), used);
    return true;
}

bool Loader::patterns() {
    const int channels = module_->channelCount;
    // Counted up as the patterns are allocated, so that a failure releases exactly those.
    const int slots = module_->patternSlotCount;
    module_->patternSlotCount = 0;
    if (!allocate(module_->patterns, static_cast<std::size_t>(slots))) {
        return false;
    }
    for (int p = 0; p < slots; ++p) {
        Pattern& pattern = module_->patterns[p];
        module_->patternSlotCount = p + 1;
        if (p >= static_cast<int>(filePatternCount_)) {
            // Played by the order table but not in the file: an empty pattern.
            pattern.rowCount = EMPTY_PATTERN_ROWS;
            if (!allocate(pattern.cells, static_cast<std::size_t>(EMPTY_PATTERN_ROWS) *
                                             static_cast<std::size_t>(channels))) {
                return false;
            }
            continue;
        }
        const std::int64_t start = in_.position();
        std::uint8_t head[PATTERN_HEADER_SIZE];
        if (!in_.read(head, sizeof head)) {
            return fail(format("truncated in pattern %d", p));
        }
        const std::uint32_t headerLength = u32(head);
        unsigned rows = u16(head + 5);
        const std::uint16_t packedSize = u16(head + 7);
        if (rows > MAX_ROWS) {
            return fail(format("pattern %d has %u rows (at most %u)", p, rows, MAX_ROWS));
        }
        // The packed data follows the whole header; a header length shorter than the
        // fields it holds cannot be, and is read as the usual 9.
        const std::int64_t dataStart =
            start + std::max<std::int64_t>(headerLength, PATTERN_HEADER_SIZE);
        if (!in_.holds(dataStart, packedSize) || !in_.seek(dataStart)) {
            return fail(format("truncated in pattern %d", p));
        }
        // A pattern without rows would leave the replay without a row to play: it gets the
        // rows of an empty pattern instead, and its data (if any) is skipped.
        const bool rowless = rows == 0;
        if (rowless) {
            rows = EMPTY_PATTERN_ROWS;
        }
        pattern.rowCount = static_cast<std::int32_t>(rows);
        const std::size_t cellCount = static_cast<std::size_t>(rows) * channels;
        if (!allocate(pattern.cells, cellCount)) {
            return false;
        }
        if (packedSize != 0 && cellCount > 0 && !rowless) {
            if (!decodePattern(p, pattern, packedSize)) {
                return false;
            }
        } else if (!in_.seek(dataStart + packedSize)) {
            return fail(format("truncated in pattern %d", p));
        }
    }
    return true;
}

// Decodes rowCount x channelCount cells from the pattern's packed data. A cell starts with
// a byte b: with bit 7 set, b says which of the five fields follow; otherwise b is the note
// and the other four fields follow. Cells are read only from this pattern's own data:
// bytes left after the last cell are skipped, and data that ends before it is rejected.
bool Loader::decodePattern(int number, Pattern& pattern, std::uint16_t packedSize) {
    scratch_.resize(packedSize);
    if (!in_.read(scratch_.data(), packedSize)) {
        return fail(format("truncated in pattern %d", number));
    }
    const std::uint8_t* data = scratch_.data();
    const std::uint8_t* const end = data + packedSize;
    const int channels = module_->channelCount;
    const int cellCount = pattern.rowCount * channels;
    for (int i = 0; i < cellCount; ++i) {
        PatternCell& cell = pattern.cells[i];
        bool complete = data != end;
        if (complete) {
            const std::uint8_t b = *data++;
            if ((b & 0x80) != 0) {
                std::uint8_t* fields[5] = {&cell.note, &cell.instrument, &cell.volume, &cell.effect,
                                           &cell.parameter};
                for (int f = 0; f < 5 && complete; ++f) {
                    if ((b & (1 << f)) != 0) {
                        complete = data != end;
                        if (complete) {
                            *fields[f] = *data++;
                        }
                    }
                }
            } else if (end - data >= 4) {
                cell.note = b;
                cell.instrument = data[0];
                cell.volume = data[1];
                cell.effect = data[2];
                cell.parameter = data[3];
                data += 4;
            } else {
                complete = false;
            }
        }
        if (!complete) {
            return fail(format("pattern %d: its data ends in row %d of %d", number, i / channels,
                               pattern.rowCount));
        }
        // 97 is key off. Notes above it do not exist: the replay would look them up beyond
        // the instrument's note table, so they are read as no note.
        if (cell.note == 97) {
            cell.note = NOTE_KEY_OFF;
        } else if (cell.note > 97) {
            cell.note = 0;
        }
        if (cell.instrument > 128) {
            cell.instrument = 0;
        }
    }
    return true;
}
} // namespace

Module* loadModule(const char* name) {
    lastError.clear();
    if (!streamCallbacksRegistered()) {
        lastError = "no stream callbacks are registered";
        return nullptr;
    }
    auto* module = static_cast<Module*>(std::calloc(1, sizeof(Module)));
    if (module == nullptr) {
        lastError = "out of memory";
        return nullptr;
    }
    errno = 0;
    ModuleStream* stream = streamOpen(name);
    if (stream == nullptr) {
        const int why = errno;
        lastError = "cannot be opened";
        if (why != 0) {
            lastError += std::string(" (") + std::strerror(why) + ")";
        }
        std::free(module);
        return nullptr;
    }
    streamSeek(stream, 0, SEEK_FROM_END);
    const std::int32_t size = streamTell(stream);
    streamSeek(stream, 0, SEEK_FROM_START);
    bool loaded = false;
    if (size < 0) {
        lastError = "the stream cannot tell its size";
    } else {
        Reader in(stream, size);
        Loader loader(module, in);
        loaded = loader.load();
        if (!loaded) {
            lastError = loader.error();
        }
    }
    streamClose(stream);
    if (!loaded) {
        detail::releaseModule(module);
        return nullptr;
    }
    return module;
}

const char* lastModuleError() {
    return lastError.c_str();
}

} // namespace tessivane::music
