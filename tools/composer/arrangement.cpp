#include "arrangement.h"

#include "instruments.h"
#include "score.h"

#include <array>

namespace tessivane::composer {

namespace {

// What each channel carries. Channels change roles between sections where a part rests.
enum Channel {
    DRUM,     // kick; the wind in the intro; the riser into the flight
    BACKBEAT, // snare; the wind, a whoosh or a crash
    HIGH,     // hi-hats; the echo of the bells or the lead where there are no hats
    LOW,      // bass
    PAD_A,    // pad, lower voice
    PAD_B,    // pad, upper voice
    TOP,      // bells or lead
    ARP       // arpeggios, or the pad's third voice
};

// The patterns, in the order they first play.
enum PatternName {
    INTRO,     // Am9 | Fmaj7, wind, pad, bells (played twice)
    PULSE_A,   // Am9 | Fmaj7, + heartbeat kick and bass
    PULSE_B,   // Cmaj7 | G6
    GROOVE_A,  // Am9 | Fmaj7, + hats, snare, arpeggio, bass groove
    GROOVE_B,  // Cmaj7 | G6
    THEME_A,   // Am9 | Fmaj7, + lead, full drums
    THEME_B,   // Cmaj7 | G6, ending with a fill
    GLOW_A,    // Fmaj7#11 | G6/9: the metaballs; drums rest, arpeggio shimmers
    GLOW_B,    // Em7 | Am9
    GLOW_C,    // Dm9 | E7sus4 E7, building up with a snare roll and a riser
    FLIGHT_A,  // Am | G: the flight, full drums and a driving bass
    FLIGHT_B,  // F | E
    LANDING,   // F | E, the drums fall away
    LAST_CHORD // Am9, fading out
};

const std::vector<int> ORDERS = {
    INTRO,  INTRO,  PULSE_A, PULSE_B,  GROOVE_A, GROOVE_B, THEME_A,  THEME_B,  THEME_A, THEME_B,
    GLOW_A, GLOW_B, GLOW_C,  FLIGHT_A, FLIGHT_B, FLIGHT_A, FLIGHT_B, FLIGHT_A, LANDING, LAST_CHORD};

constexpr int BAR = 32;
constexpr int HALF_BAR = 16;
constexpr int OCTAVE = 12;

// A chord as the parts use it: the bass's root, three pad voices from low to high (two-voice
// sections take the upper two) and four notes for the arpeggio.
struct Chord {
    int bass = 0;
    std::array<int, 3> pads{};
    std::array<int, 4> arp{};
};

struct ChordText {
    const char* bass;
    const char* pads;
    const char* arp;
};

// The intro's and the theme's chords.
constexpr ChordText A_MINOR_9 = {"A1", "C4 G4 B4", "A4 C5 E5 B5"};
constexpr ChordText F_MAJOR_7 = {"F1", "C4 E4 A4", "F4 A4 C5 E5"};
constexpr ChordText C_MAJOR_7 = {"C2", "B3 E4 G4", "G4 B4 C5 E5"};
constexpr ChordText G_SIX = {"G1", "B3 D4 G4", "G4 B4 D5 E5"};
// The glow's: brighter colours over the same key, ending on the dominant.
constexpr ChordText F_LYDIAN = {"F1", "C4 E4 A4", "C5 E5 G5 B5"};
constexpr ChordText G_SIX_NINE = {"G1", "B3 D4 A4", "B4 D5 E5 A5"};
constexpr ChordText E_MINOR_7 = {"E2", "B3 D4 G4", "B4 D5 E5 G5"};
constexpr ChordText A_MINOR_9_HIGH = {"A1", "E3 C4 G4", "C5 E5 G5 B5"};
constexpr ChordText D_MINOR_9 = {"D2", "A3 C4 F4", "A4 C5 E5 F5"};
constexpr ChordText E_SEVEN_SUS = {"E2", "B3 D4 A4", "B4 D5 E5 A5"};
constexpr ChordText E_SEVEN = {"E2", "B3 D4 G#4", "B4 D5 E5 G#5"};
// The flight's: a falling line of sixths over A, G, F and E.
constexpr ChordText A_MINOR = {"A1", "A3 E4 C5", "A4 C5 E5 A5"};
constexpr ChordText G_MAJOR = {"G1", "G3 D4 B4", "G4 B4 D5 G5"};
constexpr ChordText F_MAJOR = {"F1", "F3 C4 A4", "F4 A4 C5 F5"};
constexpr ChordText E_MAJOR = {"E1", "E3 B3 G#4", "E4 G#4 B4 E5"};

// Four half-bar chords: the harmony of one pattern.
using Harmony = std::array<Chord, 4>;

// The bells' phrases and the tunes of the lead, one pattern each.
constexpr const char* BELLS_INTRO =
    "E5:10@40 B5:6@30 A5:10@36 G5:6@28 C6:10@38 A5:6@30 G5:10@34 E5:6@26";
constexpr const char* BELLS_ANSWER =
    "G5:10@40 E5:6@30 B5:10@36 D6:6@28 B5:10@38 G5:6@30 E5:10@34 D5:6@26";
constexpr const char* BELLS_FAREWELL = "E5:10@36 B5:6@28 A5:16@32 E5:32@26";
constexpr const char* THEME_FIRST = "E5:12 D5:4 C5:8 B4:8 C5:16 A4:8 C5:4 E5:4";
constexpr const char* THEME_SECOND = "G5:12 E5:4 D5:8 E5:8 D5:16 B4:8 -:8";
constexpr const char* GLOW_FIRST = "A5:12 G5:4 E5:16 D5:12 E5:4 G5:16";
constexpr const char* GLOW_SECOND = "B5:12 A5:4 G5:8 E5:8 C6:12 B5:4 A5:8 G5:8";
constexpr const char* GLOW_THIRD = "F5:12 E5:4 D5:8 A5:8 E5:16 G#5:8 B5:6 -:2";
constexpr const char* FLIGHT_FIRST = "E5:6 A5:6 B5:4 C6:8 B5:4 A5:4 D5:6 G5:6 A5:4 B5:8 A5:4 G5:4";
constexpr const char* FLIGHT_SECOND = "C5:6 F5:6 G5:4 A5:8 G5:4 F5:4 B4:6 E5:6 G#5:4 B5:12 -:4";

struct Hit {
    int row;
    int volume;
};

class Arranger {
public:
    explicit Arranger(music::Module& module) : score_(module) {}

    bool write(std::string& error);

private:
    Chord chord(const ChordText& text);
    Harmony twoBars(const ChordText& first, const ChordText& second);

    void hits(int pattern, int channel, int note, InstrumentNumber instrument,
              std::initializer_list<Hit> list, int barCount = 2);
    void hats(int pattern, int firstRow, int lastRow, bool sixteenths, bool open);
    void pads(int pattern, const Harmony& harmony, int voices, int volume);
    void bassHeld(int pattern, const Harmony& harmony, int volume);
    void bassPulse(int pattern, const Harmony& harmony);
    void bassGroove(int pattern, const Harmony& harmony);
    void bassDrive(int pattern, const Harmony& harmony, int lastRow);
    void arpeggio(int pattern, const Harmony& harmony, int rowsPerStep,
                  std::initializer_list<int> steps, std::initializer_list<int> volumes,
                  int firstRow = 0, int lastRow = ROWS - 1);

    void intro();
    void pulse(int pattern, const Harmony& harmony, const char* bells, int windFrom, int windTo);
    void groove(int pattern, const Harmony& harmony);
    void theme(int pattern, const Harmony& harmony, const char* tune, bool fill);
    void glow(int pattern, const Harmony& harmony, const char* tune);
    void whoosh(int pattern);
    void buildUp(int pattern);
    void flight(int pattern, const Harmony& harmony, const char* tune, bool crash, bool fill);
    void landing();
    void lastChord();

    Score score_;
    std::string parseError_;
};

Chord Arranger::chord(const ChordText& text) {
    Chord c;
    std::vector<int> notes;
    std::string error;
    if (parseNotes(text.bass, notes, error) && notes.size() == 1) {
        c.bass = notes[0];
    } else {
        parseError_ = "bass of a chord: " + error;
    }
    if (parseNotes(text.pads, notes, error) && notes.size() == 3) {
        std::copy(notes.begin(), notes.end(), c.pads.begin());
    } else {
        parseError_ = "pad voices of a chord: " + error;
    }
    if (parseNotes(text.arp, notes, error) && notes.size() == 4) {
        std::copy(notes.begin(), notes.end(), c.arp.begin());
    } else {
        parseError_ = "arpeggio of a chord: " + error;
    }
    return c;
}

Harmony Arranger::twoBars(const ChordText& first, const ChordText& second) {
    const Chord a = chord(first);
    const Chord b = chord(second);
    return {a, a, b, b};
}

// The same hits in each bar: rows are counted from the bar's start.
void Arranger::hits(int pattern, int channel, int note, InstrumentNumber instrument,
                    std::initializer_list<Hit> list, int barCount) {
    for (int bar = 0; bar < barCount; ++bar) {
        for (const Hit& hit : list) {
            score_.play(pattern, bar * BAR + hit.row, channel, note, instrument, hit.volume);
        }
    }
}

// Closed hats on eighths (louder off the beat) or sixteenths, with an open hat on every
// off-beat eighth when open is set.
void Arranger::hats(int pattern, int firstRow, int lastRow, bool sixteenths, bool open) {
    for (int row = firstRow; row <= lastRow; row += sixteenths ? 2 : 4) {
        const bool offBeat = row % 8 == 4;
        if (open && offBeat) {
            score_.play(pattern, row, HIGH, OPEN_HAT_NOTE, HATS, 34);
        } else {
            const int volume = offBeat ? 38 : row % 8 == 0 ? 27 : 17;
            score_.play(pattern, row, HIGH, CLOSED_HAT_NOTE, HATS, volume);
        }
    }
}

// Pad voices on PAD_A, PAD_B (and ARP for a third): each voice starts at the pattern's
// start and again only where its note changes, so that common tones hold over a change.
void Arranger::pads(int pattern, const Harmony& harmony, int voices, int volume) {
    constexpr Channel CHANNELS_OF_VOICES[3] = {ARP, PAD_A, PAD_B};
    for (int half = 0; half < 4; ++half) {
        for (int v = 3 - voices; v < 3; ++v) {
            const int note = harmony[half].pads[v];
            if (half == 0 || note != harmony[half - 1].pads[v]) {
                score_.play(pattern, half * HALF_BAR, CHANNELS_OF_VOICES[v], note, PAD, volume);
            }
        }
    }
}

void Arranger::bassHeld(int pattern, const Harmony& harmony, int volume) {
    for (int half = 0; half < 4; ++half) {
        if (half == 0 || harmony[half].bass != harmony[half - 1].bass) {
            score_.play(pattern, half * HALF_BAR, LOW, harmony[half].bass, BASS, volume);
        }
    }
}

// A root on the bar and a softer one on the "and" of three.
void Arranger::bassPulse(int pattern, const Harmony& harmony) {
    for (int bar = 0; bar < 2; ++bar) {
        const int root = harmony[bar * 2].bass;
        score_.play(pattern, bar * BAR, LOW, root, BASS, 42);
        score_.play(pattern, bar * BAR + 20, LOW, root, BASS, 30);
    }
}

// A syncopated line of roots and octaves that locks with the kick.
void Arranger::bassGroove(int pattern, const Harmony& harmony) {
    constexpr struct {
        int row;
        int octave;
        int volume;
    } STEPS[] = {{0, 0, 52}, {6, 0, 36}, {10, 1, 40}, {16, 0, 46}, {20, 0, 44}, {26, 1, 38}};
    for (int bar = 0; bar < 2; ++bar) {
        for (const auto& step : STEPS) {
            const int row = bar * BAR + step.row;
            const int root = harmony[row / HALF_BAR].bass;
            score_.play(pattern, row, LOW, root + step.octave * OCTAVE, BASS, step.volume);
        }
        score_.release(pattern, bar * BAR + 30, LOW);
    }
}

// Rolling sixteenths of roots and octaves, accented with the kick.
void Arranger::bassDrive(int pattern, const Harmony& harmony, int lastRow) {
    constexpr struct {
        int octave;
        int volume;
    } STEPS[16] = {{0, 56}, {0, 28}, {1, 40}, {0, 28}, {0, 36}, {0, 50}, {1, 40}, {0, 28},
                   {0, 36}, {1, 40}, {0, 52}, {0, 28}, {1, 44}, {0, 30}, {1, 38}, {0, 34}};
    for (int row = 0; row <= lastRow; row += 2) {
        const auto& step = STEPS[(row % BAR) / 2];
        const int root = harmony[row / HALF_BAR].bass;
        score_.play(pattern, row, LOW, root + step.octave * OCTAVE, BASS, step.volume);
    }
}

// An arpeggio on ARP: step i plays the chord's arpeggio note steps[i % n] (4..7: the same
// an octave up) with volumes[i % m].
void Arranger::arpeggio(int pattern, const Harmony& harmony, int rowsPerStep,
                        std::initializer_list<int> steps, std::initializer_list<int> volumes,
                        int firstRow, int lastRow) {
    int i = 0;
    for (int row = firstRow; row <= lastRow; row += rowsPerStep, ++i) {
        const int step = steps.begin()[i % steps.size()];
        const int note = harmony[row / HALF_BAR].arp[step % 4] + step / 4 * OCTAVE;
        const int volume = volumes.begin()[i % volumes.size()];
        score_.play(pattern, row, ARP, note, PLUCK, volume);
    }
}

// Wind breathing under a three-voice pad, a held bass and bells with their echo.
void Arranger::intro() {
    const Harmony harmony = twoBars(A_MINOR_9, F_MAJOR_7);
    score_.play(INTRO, 0, DRUM, noteNumber("A3"), WIND, 8);
    score_.swell(INTRO, DRUM, 4, 24, 4, 14, 30);
    score_.swell(INTRO, DRUM, 28, 44, 4, 26, 16);
    score_.swell(INTRO, DRUM, 48, 60, 4, 18, 10);
    bassHeld(INTRO, harmony, 32);
    pads(INTRO, harmony, 3, 26);
    score_.tune(INTRO, TOP, 0, BELLS_INTRO, PLUCK, 30);
    score_.echo(INTRO, TOP, HIGH, 6, 0.45);
}

// A heartbeat kick and a pulsing bass join; the wind fades from windFrom to windTo.
void Arranger::pulse(int pattern, const Harmony& harmony, const char* bells, int windFrom,
                     int windTo) {
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{0, 44}, {16, 36}});
    score_.play(pattern, 0, BACKBEAT, noteNumber("A3"), WIND, windFrom);
    score_.swell(pattern, BACKBEAT, 8, 56, 8, windFrom, windTo);
    if (windTo == 0) {
        score_.release(pattern, 60, BACKBEAT);
    }
    bassPulse(pattern, harmony);
    pads(pattern, harmony, 3, 24);
    score_.tune(pattern, TOP, 0, bells, PLUCK, 30);
    score_.echo(pattern, TOP, HIGH, 6, 0.45);
}

// The groove starts: kick, a light snare, hats on eighths, the bass line, a sixteenth-note
// arpeggio; the pad thins to two voices and the bells rest.
void Arranger::groove(int pattern, const Harmony& harmony) {
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{0, 54}, {20, 42}});
    hits(pattern, BACKBEAT, DRUM_NOTE, SNARE, {{8, 24}, {24, 28}});
    hats(pattern, 0, ROWS - 1, false, false);
    bassGroove(pattern, harmony);
    pads(pattern, harmony, 2, 24);
    arpeggio(pattern, harmony, 2, {0, 1, 2, 3, 2, 1, 2, 3}, {24, 14, 18, 14});
}

// Full drums and the lead's theme; the second half ends with a fill into what follows.
void Arranger::theme(int pattern, const Harmony& harmony, const char* tune, bool fill) {
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{0, 60}, {14, 28}, {20, 50}});
    if (fill) {
        hits(pattern, BACKBEAT, DRUM_NOTE, SNARE, {{8, 50}, {24, 50}}, 1);
        score_.play(pattern, 40, BACKBEAT, DRUM_NOTE, SNARE, 50);
        for (const Hit& hit : {Hit{52, 30}, Hit{56, 36}, Hit{58, 40}, Hit{60, 46}, Hit{62, 52}}) {
            score_.play(pattern, hit.row, BACKBEAT, DRUM_NOTE, SNARE, hit.volume);
        }
        score_.play(pattern, 48, DRUM, DRUM_NOTE + 7, KICK, 40); // toms from the kick
        score_.play(pattern, 54, DRUM, DRUM_NOTE + 3, KICK, 44);
        hats(pattern, 0, 47, true, false);
    } else {
        hits(pattern, BACKBEAT, DRUM_NOTE, SNARE, {{8, 50}, {24, 50}});
        hats(pattern, 0, ROWS - 1, true, false);
        score_.play(pattern, 60, HIGH, OPEN_HAT_NOTE, HATS, 32);
    }
    bassGroove(pattern, harmony);
    pads(pattern, harmony, 2, 22);
    score_.tune(pattern, TOP, 0, tune, LEAD, 32);
    arpeggio(pattern, harmony, 2, {0, 1, 2, 3, 2, 1, 2, 3}, {22, 13, 17, 13});
}

// The metaballs: the drums rest but for a kick on each bar; the pad and bass hold, the
// lead sings with an echo, and the arpeggio shimmers in 32nd notes, swelling each bar.
void Arranger::glow(int pattern, const Harmony& harmony, const char* tune) {
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{0, 44}}, pattern == GLOW_C ? 1 : 2);
    bassHeld(pattern, harmony, 46);
    pads(pattern, harmony, 2, 28);
    score_.tune(pattern, TOP, 0, tune, LEAD, 30);
    score_.echo(pattern, TOP, HIGH, 6, 0.4);
    std::initializer_list<int> swell = {12, 14, 16, 18, 20, 22, 24, 26,
                                        26, 24, 22, 20, 18, 16, 14, 12};
    arpeggio(pattern, harmony, 1, {0, 1, 2, 3, 2, 1}, swell);
}

// A falling gust of wind that opens the glow.
void Arranger::whoosh(int pattern) {
    int note = noteNumber("C6");
    score_.play(pattern, 0, BACKBEAT, note, WIND, 40);
    for (int row = 2, volume = 36; row <= 22; row += 2, volume -= 3) {
        note -= 2;
        score_.glide(pattern, row, BACKBEAT, note, volume);
    }
    score_.release(pattern, 24, BACKBEAT);
}

// The last bar before the flight: a snare roll that speeds up from eighths to 32nd notes,
// a rising wind and a bass pulsing in octaves, all growing louder.
void Arranger::buildUp(int pattern) {
    for (int row = 32, volume = 14; row < 48; row += 4, volume += 4) {
        score_.play(pattern, row, BACKBEAT, DRUM_NOTE, SNARE, volume);
    }
    for (int row = 48, volume = 28; row < 56; row += 2, volume += 2) {
        score_.play(pattern, row, BACKBEAT, DRUM_NOTE, SNARE, volume);
    }
    for (int row = 56, volume = 38; row < ROWS; ++row, volume += 2) {
        score_.play(pattern, row, BACKBEAT, DRUM_NOTE, SNARE, volume);
    }
    int note = noteNumber("C4");
    score_.play(pattern, 36, DRUM, note, WIND, 6);
    for (int row = 38, volume = 9; row < ROWS; row += 2, volume += 3) {
        note += 2;
        score_.glide(pattern, row, DRUM, note, volume);
    }
    const int root = noteNumber("E1");
    for (int row = 32, step = 0; row < ROWS; row += 4, ++step) {
        score_.play(pattern, row, LOW, root + step % 2 * OCTAVE, BASS, 36 + step * 5 / 2);
    }
}

// The flight: two-step kick and snare with ghost notes, sixteenth hats with open off-beats,
// a rolling bass, the flight's tune, and a rising arpeggio.
void Arranger::flight(int pattern, const Harmony& harmony, const char* tune, bool crash,
                      bool fill) {
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{0, 62}, {10, 44}, {20, 54}}, 1);
    hits(pattern, DRUM, DRUM_NOTE, KICK, {{32, 62}, {42, 44}, {52, 54}}, 1);
    hits(pattern, BACKBEAT, DRUM_NOTE, SNARE, {{8, 54}, {14, 14}, {24, 54}, {30, 18}}, 1);
    if (crash) {
        // A crash: the wind high up, dying away until the snare takes the channel.
        score_.play(pattern, 0, BACKBEAT, noteNumber("C6"), WIND, 44);
        score_.swell(pattern, BACKBEAT, 1, 7, 1, 36, 8);
    }
    if (fill) {
        for (const Hit& hit :
             {Hit{40, 54}, Hit{52, 36}, Hit{56, 42}, Hit{58, 46}, Hit{60, 50}, Hit{62, 56}}) {
            score_.play(pattern, hit.row, BACKBEAT, DRUM_NOTE, SNARE, hit.volume);
        }
        hats(pattern, 0, 55, true, true);
    } else {
        hits(pattern, BACKBEAT, DRUM_NOTE, SNARE, {{40, 54}, {46, 14}, {56, 54}, {62, 18}}, 1);
        hats(pattern, 0, ROWS - 1, true, true);
    }
    bassDrive(pattern, harmony, ROWS - 1);
    pads(pattern, harmony, 2, 20);
    score_.tune(pattern, TOP, 0, tune, LEAD, 34);
    arpeggio(pattern, harmony, 2, {0, 1, 2, 3}, {22, 12, 16, 12});
}

// The last F and E: the first bar as in flight, then the drums fall away and the bass holds.
void Arranger::landing() {
    const Harmony harmony = twoBars(F_MAJOR, E_MAJOR);
    hits(LANDING, DRUM, DRUM_NOTE, KICK, {{0, 60}, {10, 42}, {20, 52}}, 1);
    score_.play(LANDING, 32, DRUM, DRUM_NOTE, KICK, 50);
    hits(LANDING, BACKBEAT, DRUM_NOTE, SNARE, {{8, 48}, {14, 12}, {24, 48}}, 1);
    hats(LANDING, 0, 31, true, true);
    for (int row = 36, volume = 30; row < ROWS; row += 8, volume -= 6) {
        score_.play(LANDING, row, HIGH, CLOSED_HAT_NOTE, HATS, volume);
    }
    bassDrive(LANDING, harmony, 30);
    score_.play(LANDING, 32, LOW, harmony[2].bass, BASS, 44);
    pads(LANDING, harmony, 2, 22);
    score_.tune(LANDING, TOP, 0, FLIGHT_SECOND, LEAD, 28);
    std::initializer_list<int> fading = {20, 20, 19, 18, 18, 17, 16, 16, 15, 14, 14,
                                         13, 12, 12, 11, 10, 10, 9,  8,  8,  8,  7,
                                         7,  7,  6,  6,  6,  5,  5,  5,  4,  4};
    arpeggio(LANDING, harmony, 2, {0, 1, 2, 3}, fading);
}

// Home on A minor with the intro's pad and bells, everything fading to silence.
void Arranger::lastChord() {
    const Harmony harmony = twoBars(A_MINOR_9, A_MINOR_9);
    score_.play(LAST_CHORD, 0, DRUM, DRUM_NOTE, KICK, 48);
    score_.play(LAST_CHORD, 0, BACKBEAT, noteNumber("A3"), WIND, 22);
    score_.swell(LAST_CHORD, BACKBEAT, 4, 52, 4, 22, 0);
    bassHeld(LAST_CHORD, harmony, 44);
    score_.swell(LAST_CHORD, LOW, 16, 56, 4, 40, 0);
    pads(LAST_CHORD, harmony, 3, 26);
    for (Channel voice : {PAD_A, PAD_B, ARP}) {
        score_.swell(LAST_CHORD, voice, 12, 60, 4, 25, 0);
    }
    score_.tune(LAST_CHORD, TOP, 0, BELLS_FAREWELL, PLUCK, 28);
    score_.echo(LAST_CHORD, TOP, HIGH, 6, 0.45);
}

bool Arranger::write(std::string& error) {
    intro();
    pulse(PULSE_A, twoBars(A_MINOR_9, F_MAJOR_7), BELLS_INTRO, 16, 20);
    pulse(PULSE_B, twoBars(C_MAJOR_7, G_SIX), BELLS_ANSWER, 20, 0);
    groove(GROOVE_A, twoBars(A_MINOR_9, F_MAJOR_7));
    groove(GROOVE_B, twoBars(C_MAJOR_7, G_SIX));
    theme(THEME_A, twoBars(A_MINOR_9, F_MAJOR_7), THEME_FIRST, false);
    theme(THEME_B, twoBars(C_MAJOR_7, G_SIX), THEME_SECOND, true);
    glow(GLOW_A, twoBars(F_LYDIAN, G_SIX_NINE), GLOW_FIRST);
    whoosh(GLOW_A);
    glow(GLOW_B, twoBars(E_MINOR_7, A_MINOR_9_HIGH), GLOW_SECOND);
    const Harmony dominant = {chord(D_MINOR_9), chord(D_MINOR_9), chord(E_SEVEN_SUS),
                              chord(E_SEVEN)};
    glow(GLOW_C, dominant, GLOW_THIRD);
    buildUp(GLOW_C);
    flight(FLIGHT_A, twoBars(A_MINOR, G_MAJOR), FLIGHT_FIRST, true, false);
    flight(FLIGHT_B, twoBars(F_MAJOR, E_MAJOR), FLIGHT_SECOND, false, true);
    landing();
    lastChord();
    if (!parseError_.empty()) {
        error = parseError_;
        return false;
    }
    error = score_.error();
    return score_.ok();
}

} // namespace

const std::vector<int>& songOrders() {
    return ORDERS;
}

bool writeArrangement(music::Module& module, std::string& error) {
    Arranger arranger(module);
    return arranger.write(error);
}

} // namespace tessivane::composer
