#include "app/command_line.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace tessivane::app {

namespace {

constexpr double SHOW_SECONDS = 96.0;

bool parseUnsigned(std::string_view text, unsigned low, unsigned high, unsigned& value) {
    unsigned parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseSeconds(std::string_view text, double& value) {
    double parsed = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || !(parsed >= 0.0) ||
        parsed > SHOW_SECONDS) {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine result;
    Options& o = result.options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        // Options that take a value accept it as the next word or after '='.
        std::string_view inlineValue;
        bool hasInlineValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        auto value = [&](std::string_view& out) {
            if (hasInlineValue) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto fail = [&](std::string message) {
            result.error = std::move(message);
            return result;
        };
        std::string_view v;
        bool* flag = arg == "--help" || arg == "-h" ? &o.help
                     : arg == "--version"           ? &o.version
                     : arg == "--window"            ? &o.window
                     : arg == "--mute"              ? &o.mute
                     : arg == "--headless"          ? &o.headless
                     : arg == "--verbose"           ? &o.verbose
                     : arg == "--benchmark"         ? &o.benchmark
                                                    : nullptr;
        if (flag != nullptr) {
            if (hasInlineValue) {
                return fail(std::string(arg) + " takes no value");
            }
            *flag = true;
        } else if (arg == "--device") {
            if (!value(v)) {
                return fail("--device needs one of auto, hal, ref");
            }
            if (v == "auto") {
                o.device = platform::DeviceChoice::Auto;
            } else if (v == "hal") {
                o.device = platform::DeviceChoice::Hardware;
            } else if (v == "ref") {
                o.device = platform::DeviceChoice::Reference;
            } else {
                return fail("--device needs one of auto, hal, ref, not '" + std::string(v) + "'");
            }
        } else if (arg == "--refresh") {
            if (!value(v) || !parseUnsigned(v, 1, 1000, o.refreshHz)) {
                return fail("--refresh needs a whole number of hertz from 1 to 1000");
            }
        } else if (arg == "--screenshot") {
            std::string_view file;
            if (hasInlineValue || !value(v) || !value(file)) {
                return fail("--screenshot needs a time in seconds and a file name");
            }
            if (!parseSeconds(v, o.screenshotSeconds)) {
                return fail("--screenshot needs a time from 0 to 96 seconds, not '" +
                            std::string(v) + "'");
            }
            o.screenshot = true;
            o.screenshotFile = file;
        } else if (arg == "--capture") {
            if (!value(v) || v.empty()) {
                return fail("--capture needs a file name");
            }
            o.captureFile = v;
        } else if (arg == "--capture-seconds") {
            // For tests: a capture that stops early. Not in the help.
            if (!value(v) || !parseSeconds(v, o.captureSeconds) || o.captureSeconds <= 0.0) {
                return fail("--capture-seconds needs a time from 0 to 96 seconds");
            }
        } else if (arg == "--frame-hashes") {
            // For tests: one line per drawn frame, "<show ms> <hash>". Not in the help.
            o.frameHashes = true;
        } else if (arg == "--benchmark-frames") {
            // For tests: a short benchmark. Not in the help.
            if (!value(v) || !parseUnsigned(v, 1, 100000, o.benchmarkFrames)) {
                return fail("--benchmark-frames needs a count from 1 to 100000");
            }
        } else if (arg == "--render-threads") {
            // For tests: the reference device's thread count. Not in the help.
            if (!value(v) || !parseUnsigned(v, 1, 64, o.renderThreads)) {
                return fail("--render-threads needs a count from 1 to 64");
            }
        } else {
            return fail("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    if (o.window && o.headless) {
        result.error = "--window and --headless exclude each other";
    }
    return result;
}

const char* usageText() {
    return "usage: tessivane [options]\n"
           "Plays the show: 96 seconds of real-time 3D graphics and music, fullscreen.\n"
           "\n"
           "  --window               play in a window instead of fullscreen\n"
           "  --device auto|hal|ref  3D device: auto tries the hardware devices, then the\n"
           "                         reference (software) device\n"
           "  --mute                 play without sound\n"
           "  --headless             no window and no sound; a virtual clock runs the show\n"
           "                         as fast as it can render\n"
           "  --refresh HZ           refresh rate of the display the virtual clock models\n"
           "                         (default 60)\n"
           "  --screenshot T FILE.png  render the frame on screen at show time T seconds,\n"
           "                         write it as a PNG and exit\n"
           "  --capture FILE.mp4     render the whole show with its music to a video file\n"
           "  --benchmark            render every scene headless and print frame times\n"
           "  --verbose              print start-up steps and timeline events on stderr\n"
           "  --help                 show this help and exit\n"
           "  --version              show the version and exit\n"
           "\n"
           "While the show plays, Escape or closing the window ends it.\n"
           "Exit status: 0 success, 1 the show could not run (the message says why),\n"
           "2 bad usage.\n";
}

} // namespace tessivane::app
