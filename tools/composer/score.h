// Writing music into a module's patterns: notes by name, tunes written as text, echoes,
// volume swells. Mistakes in the writing (a row past the pattern, a note out of range, a
// tune that does not parse) are collected, not ignored: the first one is kept as the error.
#pragma once

#include "instruments.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessivane::music {
struct Module;
}

namespace tessivane::composer {

// A semitone number (0 = C-0, 48 = C-4) from a name such as "C4", "F#3" or "Bb5"; -1 when
// name is not a note of octaves 0..7.
int noteNumber(std::string_view name);

// One event of a tune: a note (or a rest) starting at row, lasting length rows.
struct TuneEvent {
    int row;
    int note;   // semitone number, or REST
    int length; // rows
    int volume; // 0..64, or -1 for the tune's volume
};
inline constexpr int REST = -1;

// Parses a tune: events separated by spaces, each NOTE:ROWS or NOTE:ROWS@VOLUME, NOTE a note
// name or "-" for a rest, played one after another from row 0. False, with error naming the
// event, when an event does not parse.
bool parseTune(std::string_view text, std::vector<TuneEvent>& events, std::string& error);

// Space-separated note names; false with error when one is not a note.
bool parseNotes(std::string_view text, std::vector<int>& notes, std::string& error);

class Score {
public:
    explicit Score(music::Module& module) : module_(module) {}

    // A note with its instrument, which restarts the instrument's envelopes; volume 0..64.
    void play(int pattern, int row, int channel, int note, InstrumentNumber instrument, int volume);
    // A note without an instrument: the sound restarts at the new pitch, but the envelope and
    // the channel's volume carry on (volume -1 leaves it as it is).
    void glide(int pattern, int row, int channel, int note, int volume = -1);
    // Releases the note playing: its envelope leaves the sustain and the fade-out starts.
    void release(int pattern, int row, int channel);
    // Sets the channel's volume without a note.
    void volume(int pattern, int row, int channel, int volume);
    // Volumes from `from` to `to` (both included) every `step` rows over the rows [first,
    // last], in a straight line, without notes.
    void swell(int pattern, int channel, int first, int last, int step, int from, int to);
    // A tune from startRow; a rest releases the note before it. The tune's events must end
    // within the pattern.
    void tune(int pattern, int channel, int startRow, std::string_view text,
              InstrumentNumber instrument, int volume);
    // Copies the notes and releases of channel `from` to channel `to`, delay rows later and
    // at level times their volume; what would fall past the pattern's end is dropped.
    void echo(int pattern, int from, int to, int delay, double level);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    bool check(int pattern, int row, int channel);
    void fail(const std::string& message);

    music::Module& module_;
    std::string error_;
};

} // namespace tessivane::composer
