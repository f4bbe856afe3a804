// The program's command line.
#pragma once

#include "platform/platform.h"

#include <string>

namespace tessivane::app {

struct Options {
    bool window = false;
    platform::DeviceChoice device = platform::DeviceChoice::Auto;
    bool mute = false;
    bool headless = false;
    unsigned refreshHz = 60; // 1..1000
    bool verbose = false;
    bool help = false;
    bool version = false;

    bool screenshot = false;
    double screenshotSeconds = 0.0; // show time, 0..96
    std::string screenshotFile;
    std::string captureFile;     // empty: no capture
    double captureSeconds = 0.0; // stop the capture at this show time (tests); 0: the whole show
    bool benchmark = false;
    // For tests, not in the help: print a hash of every drawn frame, draw with this many
    // render threads (0: one per core), and make the benchmark short.
    bool frameHashes = false;
    unsigned renderThreads = 0;
    unsigned benchmarkFrames = 150; // frames of each scene --benchmark draws
};

struct ParsedCommandLine {
    Options options;
    std::string error; // empty when the command line is good
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// The --help text.
const char* usageText();

} // namespace tessivane::app
