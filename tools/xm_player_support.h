// The parts of tessivane-xm that are not the playing itself: its command line, what it
// prints, and how rows travel from the output thread to the one that prints them.
#pragma once

#include "music/module.h"
#include "music/song_length.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

namespace tessivane::tools {

struct Options {
    std::string file;
    std::string wav;      // render to this file instead of playing
    double seconds = 0.0; // 0: the song's length
    bool info = false;
    bool trace = false;
    bool help = false;
};

struct ParsedOptions {
    Options options;
    std::string error; // "" when the command line is good
};

ParsedOptions parseOptions(int argc, char** argv);
const char* usageText();

// seconds at rate, to the nearest frame.
std::uint64_t secondsToFrames(double seconds, int rate);
// "96.00 s"
std::string formatSeconds(double seconds);

// The module's facts, one "key: value" line each, its length last.
std::string moduleFacts(const music::Module& module, const music::SongLength& length, int rate);

// One row tick: the output frame it starts at, and the order and row it plays.
struct TraceRecord {
    std::uint64_t frame;
    int order;
    int row;
};

// Rows from the output thread (the only one that pushes; it never waits) to the main thread
// (the only one that pops). A full queue drops the row and counts it.
class TraceQueue {
public:
    void push(const TraceRecord& record);
    bool pop(TraceRecord& record);
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    static constexpr std::size_t CAPACITY = 1 << 16;
    std::array<TraceRecord, CAPACITY> records_{};
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> tail_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

// Rows rendered but not yet heard.
using PendingRows = std::deque<TraceRecord>;

// "order 3/20  row 12   0:12.3 / 1:36.0": where the song is, and how much of it has sounded.
std::string progressLine(const music::Module& module, const TraceRecord& row, std::uint64_t frames,
                         std::uint64_t totalFrames, int rate);

// Releases the module when it goes out of scope.
class ModuleHolder {
public:
    explicit ModuleHolder(music::Module* module) : module_(module) {}
    ~ModuleHolder() { music::freeModule(module_); }
    ModuleHolder(const ModuleHolder&) = delete;
    ModuleHolder& operator=(const ModuleHolder&) = delete;

private:
    music::Module* module_;
};

} // namespace tessivane::tools
