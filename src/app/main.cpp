// tessivane: plays the show.
#include "app/application.h"
#include "app/benchmark.h"
#include "app/capture.h"
#include "app/command_line.h"
#include "app/report.h"
#include "app/screenshot.h"
#include "platform/platform.h"
#include "platform/window.h"

#include <cstdio>
#include <string>

using namespace tessivane;

namespace {

const char* describe(app::TimelineEvent event) {
    switch (event) {
    case app::TimelineEvent::Scene1:
        return "scene 1";
    case app::TimelineEvent::Scene2:
        return "scene 2";
    case app::TimelineEvent::SupplyEnd:
        return "recycling ends";
    case app::TimelineEvent::Quit:
        return "quit";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv) {
    const app::ParsedCommandLine parsed = app::parseCommandLine(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tessivane: %s\n\n%s", parsed.error.c_str(), app::usageText());
        return 2;
    }
    const app::Options& options = parsed.options;
    if (options.help) {
        std::fputs(app::usageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tessivane %s\n", TESSIVANE_VERSION);
        return 0;
    }

    platform::PlatformConfig config;
    // Screenshots, captures and the benchmark render on the virtual clock without a window
    // or a sound device.
    const bool capturing = !options.captureFile.empty();
    config.headless = options.headless || options.screenshot || options.benchmark || capturing;
    config.fullscreen = !options.window;
    config.mute = options.mute || config.headless;
    config.device = options.device;
    config.refreshHz = options.refreshHz;
    platform::configurePlatform(config);
    app::setVerbose(options.verbose);

    int exitValue = 0;
    {
        // The capture opens its file first: a path that cannot be written fails at once.
        app::Capture capture;
        std::string error;
        if (capturing && !capture.open(options.captureFile, error)) {
            std::fprintf(stderr, "tessivane: %s\n", error.c_str());
            platform::shutdownPlatform();
            return 1;
        }
        app::Application application;
        if (options.verbose) {
            application.onTimelineEvent = [](app::TimelineEvent event, platform::DWORD elapsed) {
                std::fprintf(stderr, "timeline: %s at %u ms\n", describe(event),
                             static_cast<unsigned>(elapsed));
            };
        }
        if (platform::FAILED(
                application.init(platform::GetModuleHandleA(nullptr), app::windowProc))) {
            std::fprintf(stderr, "tessivane: start-up failed: %s\n", application.failure().c_str());
            exitValue = 1;
        } else if (options.benchmark) {
            app::runSceneBenchmark(application, stdout);
            exitValue = app::runAudioBenchmark(stdout) ? 0 : 1;
        } else if (capturing) {
            if (capture.run(application, options.captureSeconds, error)) {
                std::fprintf(stderr, "tessivane: the show is captured in %s\n",
                             options.captureFile.c_str());
            } else {
                std::fprintf(stderr, "tessivane: %s\n", error.c_str());
                exitValue = 1;
            }
        } else if (options.screenshot) {
            if (!app::runScreenshot(application, options.screenshotSeconds, options.screenshotFile,
                                    error)) {
                std::fprintf(stderr, "tessivane: %s\n", error.c_str());
                exitValue = 1;
            }
        } else {
            exitValue = application.run();
        }
        application.shutdown();
    }
    platform::shutdownPlatform();
    return exitValue;
}
