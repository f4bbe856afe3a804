// tessivane-xm: plays an XM module file with the show's own loader, replay, mixer and wave
// device, or renders it to a WAV file.
//
//   tessivane-xm FILE.xm [--wav OUT.wav] [--seconds N] [--info] [--trace]
//
// Exit status: 0 done, 1 the work failed (one line on stderr says why), 2 bad usage.
#include "audio/output.h"
#include "music/file_stream.h"
#include "music/module.h"
#include "music/replay.h"
#include "music/song_length.h"
#include "platform/platform.h"
#include "platform/thread.h"
#include "platform/wave_out.h"
#include "xm_player_support.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace tessivane;
using namespace tessivane::tools;

namespace {

constexpr int RATE = audio::OUTPUT_RATE;
// How far the length measurement looks for the song's return.
constexpr double LENGTH_LIMIT_SECONDS = 3600.0;
// Frames rendered to the file per pull: a second of sound.
constexpr std::uint32_t PULL_FRAMES = RATE;
constexpr platform::DWORD PLAY_POLL_MS = 20;

std::atomic<bool> interrupted{false};

void onSignal(int) {
    interrupted.store(true);
}

TraceQueue traceQueue;

// The module's tick handler while it plays here: the replay's, with a note of every row
// tick for the trace and the progress line.
void tracingTick(music::Module* module) {
    if (module->tick == 0) {
        int order = 0;
        int row = 0;
        music::upcomingRow(*module, order, row);
        traceQueue.push({audio::tickFrame(), order, row});
    }
    music::replayTick(module);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "tessivane-xm: %s\n", message.c_str());
    return 1;
}

// What the main thread does with the rows rendered and the frames heard or written.
class Reporter {
public:
    Reporter(const Options& options, const music::Module& module, std::uint64_t totalFrames)
        : options_(options), module_(module), totalFrames_(totalFrames),
          progress_(isatty(STDERR_FILENO) != 0) {}

    // Takes the rows rendered so far: prints those within the length when tracing, and
    // shows where the sound now is (frames heard or written).
    void update(std::uint64_t frames) {
        TraceRecord record;
        while (traceQueue.pop(record)) {
            if (record.frame >= totalFrames_) {
                continue;
            }
            if (options_.trace) {
                std::printf("%llu %d %d\n", static_cast<unsigned long long>(record.frame),
                            record.order, record.row);
            }
            pending_.push_back(record);
        }
        while (!pending_.empty() && pending_.front().frame <= frames) {
            current_ = pending_.front();
            pending_.pop_front();
        }
        if (progress_) {
            std::fprintf(stderr, "\r%s",
                         progressLine(module_, current_, frames, totalFrames_, RATE).c_str());
            std::fflush(stderr);
        }
    }

    void finish() {
        if (options_.trace) {
            std::fflush(stdout);
        }
        if (progress_) {
            std::fputc('\n', stderr);
        }
        if (traceQueue.dropped() > 0) {
            std::fprintf(stderr, "tessivane-xm: %llu rows of the trace were lost\n",
                         static_cast<unsigned long long>(traceQueue.dropped()));
        }
    }

private:
    const Options& options_;
    const music::Module& module_;
    std::uint64_t totalFrames_;
    bool progress_;
    PendingRows pending_;
    TraceRecord current_{0, 0, 0};
};

// Renders totalFrames frames into the WAV file the pull device writes.
bool render(Reporter& reporter, std::uint64_t totalFrames, std::string& error) {
    std::uint64_t done = 0;
    while (done < totalFrames && !interrupted.load()) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(PULL_FRAMES, totalFrames - done));
        if (!platform::pullWaveOutput(nullptr, n)) {
            error = platform::lastPlatformError();
            return false;
        }
        done += n;
        reporter.update(done);
    }
    if (interrupted.load()) {
        error = "interrupted: " + std::string("the file holds only ") +
                formatSeconds(static_cast<double>(done) / RATE);
        return false;
    }
    return true;
}

// Plays until the device has played totalFrames frames, or until interrupted.
void play(Reporter& reporter, std::uint64_t totalFrames) {
    while (!interrupted.load()) {
        const std::uint64_t played = audio::playedFrames();
        reporter.update(played);
        if (played >= totalFrames) {
            break;
        }
        platform::Sleep(PLAY_POLL_MS);
    }
}

int run(const Options& options) {
    music::useFileStreams();
    music::Module* module = music::loadModule(options.file.c_str());
    if (module == nullptr) {
        return fail("cannot load " + options.file + ": " + music::lastModuleError());
    }
    ModuleHolder holder(module);
    const auto limit = static_cast<std::uint64_t>(LENGTH_LIMIT_SECONDS * RATE);
    if (options.info) {
        const music::SongLength length = music::measureSongLength(*module, RATE, limit);
        std::fputs(moduleFacts(*module, length, RATE).c_str(), stdout);
        return 0;
    }
    std::uint64_t totalFrames = 0;
    if (options.seconds > 0.0) {
        totalFrames = secondsToFrames(options.seconds, RATE);
    } else {
        const music::SongLength length = music::measureSongLength(*module, RATE, limit);
        totalFrames = length.frames;
        if (!length.ends) {
            std::fprintf(stderr,
                         "tessivane-xm: the song does not repeat within %s; playing that much "
                         "(--seconds sets another length)\n",
                         formatSeconds(LENGTH_LIMIT_SECONDS).c_str());
        }
    }

    const bool toFile = !options.wav.empty();
    platform::setWaveOutput(toFile ? platform::WaveOutput::Pull : platform::WaveOutput::System,
                            toFile ? options.wav.c_str() : nullptr);
    if (!audio::outputInit(RATE)) {
        return fail(toFile ? std::string(platform::lastPlatformError())
                           : std::string("no sound device: ") + platform::lastPlatformError());
    }
    module->tickHandler = tracingTick;
    if (!audio::playModule(module)) {
        audio::outputClose();
        return fail("cannot play " + options.file + ": out of memory or threads");
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    Reporter reporter(options, *module, totalFrames);
    std::string error;
    bool ok = true;
    if (toFile) {
        ok = render(reporter, totalFrames, error);
    } else {
        play(reporter, totalFrames);
    }
    const platform::DWORD underruns = audio::outputUnderruns();
    audio::stopModule(module);
    audio::outputClose();
    reporter.finish();
    if (!ok) {
        return fail(error);
    }
    if (underruns > 0) {
        if (toFile) {
            return fail("the renderer fell behind the file " + std::to_string(underruns) +
                        " times: " + options.wav + " is not what the song sounds like");
        }
        std::fprintf(stderr, "tessivane-xm: the sound broke up %u times (the system was busy)\n",
                     static_cast<unsigned>(underruns));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tessivane-xm: %s\n\n%s", parsed.error.c_str(), usageText());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    const int status = run(parsed.options);
    platform::shutdownPlatform();
    return status;
}
