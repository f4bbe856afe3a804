#include "score.h"

#include "music/module.h"
#include "music/module_builder.h"

#include <cmath>

namespace tessivane::composer {

namespace {

constexpr int MAX_VOLUME = 64;
// The volume column's set-volume range: 0x10 + volume.
constexpr std::uint8_t VOLUME_COLUMN = 0x10;

std::uint8_t cellNote(int note) {
    return static_cast<std::uint8_t>(note + 1);
}

// Reads a whole number from the front of text; -1 when there is none.
int leadingNumber(std::string_view& text) {
    int value = -1;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        value = (value < 0 ? 0 : value * 10) + (text.front() - '0');
        text.remove_prefix(1);
        if (value > 9999) {
            return -1;
        }
    }
    return value;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        text.remove_prefix(start);
        const std::size_t end = text.find(' ');
        out.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return out;
}

} // namespace

int noteNumber(std::string_view name) {
    constexpr int STEPS[7] = {9, 11, 0, 2, 4, 5, 7}; // A..G from C
    if (name.size() < 2 || name.size() > 3 || name[0] < 'A' || name[0] > 'G') {
        return -1;
    }
    int pitch = STEPS[name[0] - 'A'];
    name.remove_prefix(1);
    if (name.size() == 2) {
        if (name[0] == '#') {
            pitch += 1;
        } else if (name[0] == 'b') {
            pitch -= 1;
        } else {
            return -1;
        }
        name.remove_prefix(1);
    }
    if (name[0] < '0' || name[0] > '7') {
        return -1;
    }
    const int note = (name[0] - '0') * 12 + pitch;
    return note >= 0 && note < music::NOTE_COUNT ? note : -1;
}

bool parseTune(std::string_view text, std::vector<TuneEvent>& events, std::string& error) {
    events.clear();
    int row = 0;
    for (std::string_view word : words(text)) {
        const std::string original(word);
        const std::size_t colon = word.find(':');
        if (colon == std::string_view::npos) {
            error = "tune event \"" + original + "\" has no length (NOTE:ROWS)";
            return false;
        }
        const std::string_view name = word.substr(0, colon);
        const int note = name == "-" ? REST : noteNumber(name);
        if (note == -1 && name != "-") {
            error = "tune event \"" + original + "\": not a note";
            return false;
        }
        word.remove_prefix(colon + 1);
        const int length = leadingNumber(word);
        int volume = -1;
        if (!word.empty() && word.front() == '@') {
            word.remove_prefix(1);
            volume = leadingNumber(word);
            if (volume < 0 || volume > MAX_VOLUME) {
                error = "tune event \"" + original + "\": volume is not 0..64";
                return false;
            }
        }
        if (length <= 0 || !word.empty()) {
            error = "tune event \"" + original + "\": length is not a whole number of rows";
            return false;
        }
        events.push_back({row, note, length, volume});
        row += length;
    }
    return true;
}

bool parseNotes(std::string_view text, std::vector<int>& notes, std::string& error) {
    notes.clear();
    for (std::string_view word : words(text)) {
        const int note = noteNumber(word);
        if (note < 0) {
            error.assign(1, '"').append(word).append("\" is not a note");
            return false;
        }
        notes.push_back(note);
    }
    return true;
}

void Score::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = message;
    }
}

bool Score::check(int pattern, int row, int channel) {
    if (pattern < 0 || pattern >= module_.patternSlotCount || channel < 0 ||
        channel >= module_.channelCount || row < 0 || row >= module_.patterns[pattern].rowCount) {
        fail("pattern " + std::to_string(pattern) + " row " + std::to_string(row) + " channel " +
             std::to_string(channel) + " is outside the song");
        return false;
    }
    return true;
}

void Score::play(int pattern, int row, int channel, int note, InstrumentNumber instrument,
                 int volume) {
    if (!check(pattern, row, channel)) {
        return;
    }
    if (note < 0 || note >= music::NOTE_COUNT || volume < 0 || volume > MAX_VOLUME) {
        fail("pattern " + std::to_string(pattern) + " row " + std::to_string(row) +
             ": note or volume out of range");
        return;
    }
    music::PatternCell& cell = music::cellAt(module_, pattern, row, channel);
    cell = {cellNote(note), instrument, static_cast<std::uint8_t>(VOLUME_COLUMN + volume), 0, 0};
}

void Score::glide(int pattern, int row, int channel, int note, int volume) {
    if (!check(pattern, row, channel)) {
        return;
    }
    if (note < 0 || note >= music::NOTE_COUNT || volume < -1 || volume > MAX_VOLUME) {
        fail("pattern " + std::to_string(pattern) + " row " + std::to_string(row) +
             ": note or volume out of range");
        return;
    }
    const std::uint8_t column = volume < 0 ? 0 : static_cast<std::uint8_t>(VOLUME_COLUMN + volume);
    music::cellAt(module_, pattern, row, channel) = {cellNote(note), 0, column, 0, 0};
}

void Score::release(int pattern, int row, int channel) {
    if (check(pattern, row, channel)) {
        music::cellAt(module_, pattern, row, channel) = {music::NOTE_KEY_OFF, 0, 0, 0, 0};
    }
}

void Score::volume(int pattern, int row, int channel, int volume) {
    if (!check(pattern, row, channel)) {
        return;
    }
    if (volume < 0 || volume > MAX_VOLUME) {
        fail("pattern " + std::to_string(pattern) + " row " + std::to_string(row) +
             ": volume out of range");
        return;
    }
    music::cellAt(module_, pattern, row, channel).volume =
        static_cast<std::uint8_t>(VOLUME_COLUMN + volume);
}

void Score::swell(int pattern, int channel, int first, int last, int step, int from, int to) {
    if (step <= 0 || last < first) {
        fail("a swell needs a positive step and last row not before the first");
        return;
    }
    for (int row = first; row <= last; row += step) {
        const int span = last - first;
        const int v = span == 0 ? to : from + (to - from) * (row - first) / span;
        volume(pattern, row, channel, v);
    }
}

void Score::tune(int pattern, int channel, int startRow, std::string_view text,
                 InstrumentNumber instrument, int volume) {
    std::vector<TuneEvent> events;
    std::string error;
    if (!parseTune(text, events, error)) {
        fail(error);
        return;
    }
    bool sounding = false;
    for (const TuneEvent& e : events) {
        const int row = startRow + e.row;
        if (e.note == REST) {
            if (sounding) {
                release(pattern, row, channel);
            }
            sounding = false;
        } else {
            play(pattern, row, channel, e.note, instrument, e.volume < 0 ? volume : e.volume);
            sounding = true;
        }
    }
    if (!events.empty() && check(pattern, 0, channel) &&
        startRow + events.back().row + events.back().length > module_.patterns[pattern].rowCount) {
        fail("a tune runs past the end of pattern " + std::to_string(pattern));
    }
}

void Score::echo(int pattern, int from, int to, int delay, double level) {
    if (!check(pattern, 0, from) || !check(pattern, 0, to)) {
        return;
    }
    const int rows = module_.patterns[pattern].rowCount;
    for (int row = 0; row + delay < rows; ++row) {
        const music::PatternCell source = music::cellAt(module_, pattern, row, from);
        if (source.note == 0 && source.volume == 0) {
            continue;
        }
        music::PatternCell copy = source;
        if (source.volume != 0 || source.instrument != 0) {
            const int original = source.volume != 0 ? source.volume - VOLUME_COLUMN : MAX_VOLUME;
            int scaled = static_cast<int>(std::floor(original * level + 0.5));
            scaled = scaled > MAX_VOLUME ? MAX_VOLUME : scaled < 0 ? 0 : scaled;
            copy.volume = static_cast<std::uint8_t>(VOLUME_COLUMN + scaled);
        }
        music::cellAt(module_, pattern, row + delay, to) = copy;
    }
}

} // namespace tessivane::composer
