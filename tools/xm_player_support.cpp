#include "xm_player_support.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tessivane::tools {

namespace {

constexpr double MAX_SECONDS = 86400.0;
// A WAV file counts its sound in 32 bits: 4 GiB less the header, 4 bytes a frame.
constexpr std::uint64_t MAX_WAV_FRAMES = (0xFFFFFFFFull - 36) / 4;
constexpr int WAV_RATE = 44100;

const char USAGE[] = "usage: tessivane-xm FILE.xm [options]\n"
                     "\n"
                     "Plays an XM module through the sound device.\n"
                     "\n"
                     "  --wav OUT.wav   render to a WAV file instead (44,100 Hz, 16-bit stereo)\n"
                     "  --seconds N     how much to play or render (default: the song's length)\n"
                     "  --info          print the module's facts and its length, and play nothing\n"
                     "  --trace         print one line per row: output frame, order, row\n"
                     "  --help          print this and exit\n"
                     "\n"
                     "Exit status: 0 done, 1 the work failed, 2 bad usage.\n";

// "--name=value" or "--name value": the value, or false when there is none.
bool takeValue(int argc, char** argv, int& i, const std::string& arg, const std::string& name,
               std::string& value, std::string& error) {
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = name + " needs a value";
        return false;
    }
    return true;
}

bool parseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0.0 ||
        value > MAX_SECONDS) {
        return false;
    }
    seconds = value;
    return true;
}

std::string clock(double seconds) {
    const auto tenths = static_cast<long long>(seconds * 10);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60,
                  tenths % 10);
    return text;
}

} // namespace

ParsedOptions parseOptions(int argc, char** argv) {
    ParsedOptions parsed;
    Options& o = parsed.options;
    std::string& error = parsed.error;
    bool timeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--info") {
            o.info = true;
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "--wav" || arg.rfind("--wav=", 0) == 0) {
            if (!takeValue(argc, argv, i, arg, "--wav", value, error)) {
                return parsed;
            }
            if (value.empty()) {
                error = "--wav needs a file name";
                return parsed;
            }
            o.wav = value;
        } else if (arg == "--seconds" || arg.rfind("--seconds=", 0) == 0) {
            if (!takeValue(argc, argv, i, arg, "--seconds", value, error)) {
                return parsed;
            }
            if (!parseSeconds(value, o.seconds)) {
                error =
                    "--seconds wants a number of seconds above 0, at most 86400: '" + value + "'";
                return parsed;
            }
            timeGiven = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return parsed;
        } else if (o.file.empty()) {
            o.file = arg;
        } else {
            error = "one module file at a time: '" + o.file + "' and '" + arg + "'";
            return parsed;
        }
    }
    if (o.help) {
        return parsed;
    }
    if (o.file.empty()) {
        error = "no module file given";
    } else if (o.info && (!o.wav.empty() || timeGiven || o.trace)) {
        error = "--info only prints the module's facts; leave out --wav, --seconds and --trace";
    } else if (!o.wav.empty() && timeGiven &&
               secondsToFrames(o.seconds, WAV_RATE) > MAX_WAV_FRAMES) {
        error = "--seconds: a WAV file holds at most " +
                formatSeconds(static_cast<double>(MAX_WAV_FRAMES) / WAV_RATE) + " of sound";
    }
    return parsed;
}

const char* usageText() {
    return USAGE;
}

std::uint64_t secondsToFrames(double seconds, int rate) {
    return static_cast<std::uint64_t>(std::llround(seconds * rate));
}

std::string formatSeconds(double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string moduleFacts(const music::Module& module, const music::SongLength& length, int rate) {
    char text[512];
    const double seconds = static_cast<double>(length.frames) / rate;
    std::snprintf(text, sizeof text,
                  "channels: %d\n"
                  "patterns: %d\n"
                  "instruments: %d\n"
                  "song length: %d\n"
                  "restart: %d\n"
                  "frequency table: %s\n"
                  "speed: %d\n"
                  "bpm: %d\n"
                  "length: %s%s\n",
                  module.channelCount, module.patternSlotCount, module.instrumentCount,
                  module.songLength, module.restartPosition,
                  (module.flags & music::FLAG_LINEAR_FREQUENCIES) != 0 ? "linear" : "amiga",
                  module.defaultSpeed, module.defaultBpm, length.ends ? "" : "more than ",
                  formatSeconds(seconds).c_str());
    return text;
}

void TraceQueue::push(const TraceRecord& record) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) == CAPACITY) {
        dropped_.fetch_add(1);
        return;
    }
    records_[head % CAPACITY] = record;
    head_.store(head + 1, std::memory_order_release);
}

bool TraceQueue::pop(TraceRecord& record) {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head_.load(std::memory_order_acquire)) {
        return false;
    }
    record = records_[tail % CAPACITY];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

std::string progressLine(const music::Module& module, const TraceRecord& row, std::uint64_t frames,
                         std::uint64_t totalFrames, int rate) {
    char text[128];
    std::snprintf(text, sizeof text, "order %d/%d  row %-3d  %s / %s ", row.order,
                  static_cast<int>(module.songLength), row.row,
                  clock(static_cast<double>(frames) / rate).c_str(),
                  clock(static_cast<double>(totalFrames) / rate).c_str());
    return text;
}

} // namespace tessivane::tools
