// Capturing the whole show, picture and music, to a video file.
#pragma once

#include "app/application.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessivane::platform {
class VideoWriter;
class VirtualClock;
} // namespace tessivane::platform

namespace tessivane::app {

class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens the video file and routes the music to the device a capture pulls from. Call
    // before Application::init, with the platform headless, so that a path that cannot be
    // written fails before anything is rendered. False, with error set, on failure.
    bool open(const std::string& path, std::string& error);
    // Runs the started application to its end, writing every drawn frame at the time it is
    // first shown and the music from its first sample, with a progress bar on stderr. The
    // file appears under its name only when complete. False, with error set, on failure.
    // stopAtSeconds > 0 ends the show at the first frame drawn at or after that show time.
    bool run(Application& application, double stopAtSeconds, std::string& error);

private:
    bool writeFrame(std::string& error);
    bool writeMusicUntil(std::uint64_t units, std::string& error);
    void showProgress(bool final);

    std::string path_;
    std::unique_ptr<platform::VideoWriter> writer_;
    platform::VirtualClock* clock_ = nullptr;
    std::vector<std::uint32_t> frame_;
    std::vector<std::int16_t> music_;
    std::uint64_t musicFrames_ = 0; // written so far
    int framesWritten_ = 0;
    double startSeconds_ = 0.0;  // real time the capture started
    double lastProgress_ = -1.0; // real time of the last progress report
    bool progressOnTerminal_ = false;
};

} // namespace tessivane::app
