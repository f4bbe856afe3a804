#include "app/capture.h"

#include "audio/output.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "platform/video_writer.h"
#include "platform/wave_out.h"
#include "platform/window.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace tessivane::app {

using namespace platform;

namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;
// The show's length on the timeline, for the progress bar.
constexpr double SHOW_SECONDS = 96.0;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Capture::Capture() = default;

Capture::~Capture() {
    setFrameObserver(nullptr);
    setWaveOutput(WaveOutput::Default);
}

bool Capture::open(const std::string& path, std::string& error) {
    clock_ = dynamic_cast<VirtualClock*>(&currentClock());
    if (clock_ == nullptr) {
        error = "a capture needs the virtual clock";
        return false;
    }
    path_ = path;
    // Frame times are counted in the virtual clock's own units, so they are exact.
    writer_ = VideoWriter::open(path, WIDTH, HEIGHT, static_cast<int>(clock_->unitsPerSecond()),
                                audio::OUTPUT_RATE, error);
    if (!writer_) {
        return false;
    }
    setWaveOutput(WaveOutput::Pull);
    return true;
}

bool Capture::writeMusicUntil(std::uint64_t units, std::string& error) {
    // The music started with the clock at zero: the sample playing at a time is that time
    // in samples.
    const std::uint64_t target = units * audio::OUTPUT_RATE / clock_->unitsPerSecond();
    if (target <= musicFrames_) {
        return true;
    }
    const auto frames = static_cast<std::uint32_t>(target - musicFrames_);
    music_.resize(static_cast<std::size_t>(frames) * 2);
    if (!pullWaveOutput(music_.data(), frames)) {
        error = std::string("the music could not be rendered: ") + lastPlatformError();
        return false;
    }
    musicFrames_ = target;
    return writer_->writeAudio(music_.data(), static_cast<int>(frames), error);
}

bool Capture::writeFrame(std::string& error) {
    // After the present the clock stands at the refresh from which the frame is shown.
    const std::uint64_t shown = clock_->elapsedUnits();
    if (!writeMusicUntil(shown, error) ||
        !writer_->writeFrame(frame_.data(), static_cast<std::int64_t>(shown), error)) {
        return false;
    }
    ++framesWritten_;
    return true;
}

void Capture::showProgress(bool final) {
    const double real = now();
    if (!final && real - lastProgress_ < (progressOnTerminal_ ? 0.2 : 10.0)) {
        return;
    }
    lastProgress_ = real;
    const double show =
        static_cast<double>(clock_->elapsedUnits()) / static_cast<double>(clock_->unitsPerSecond());
    const double fraction = std::min(1.0, show / SHOW_SECONDS);
    const double spent = real - startSeconds_;
    const double speed = spent > 0 ? show / spent : 0.0;
    const double left = speed > 0 ? (SHOW_SECONDS - std::min(show, SHOW_SECONDS)) / speed : 0.0;
    constexpr int WIDTH_CHARS = 30;
    char bar[WIDTH_CHARS + 1];
    const int filled = static_cast<int>(fraction * WIDTH_CHARS);
    for (int i = 0; i < WIDTH_CHARS; ++i) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[WIDTH_CHARS] = '\0';
    std::fprintf(stderr, "%scapturing [%s] %3.0f%%  show %5.1f s  %4.1fx real time  %3.0f s left%s",
                 progressOnTerminal_ ? "\r" : "", bar, fraction * 100, show, speed, left,
                 progressOnTerminal_ && !final ? "" : "\n");
    std::fflush(stderr);
}

bool Capture::run(Application& application, double stopAtSeconds, std::string& error) {
    progressOnTerminal_ = isatty(STDERR_FILENO) != 0;
    startSeconds_ = now();
    bool failed = false;
    setFrameObserver([this](const std::uint32_t* pixels, int width, int height) {
        frame_.assign(pixels, pixels + static_cast<std::size_t>(width) * height);
    });
    application.onFrameDrawn = [&](DWORD elapsed) {
        if (!failed && !writeFrame(error)) {
            failed = true;
            PostQuitMessage(0);
        }
        if (stopAtSeconds > 0 && elapsed >= stopAtSeconds * 1000.0) {
            PostQuitMessage(0);
        }
        showProgress(false);
    };
    application.run();
    application.onFrameDrawn = nullptr;
    setFrameObserver(nullptr);
    // The music runs to the moment the show quit, past the last frame's time.
    if (!failed && (!writeMusicUntil(clock_->elapsedUnits(), error) || !writer_->finish(error))) {
        failed = true;
    }
    writer_.reset(); // an unfinished file goes with it
    showProgress(true);
    return !failed;
}

} // namespace tessivane::app
