// tessivane: plays the show.
#include "app/application.h"
#include "app/benchmark.h"
#include "app/capture.h"
#include "app/command_line.h"
#include "app/report.h"
#include "app/screenshot.h"
#include "platform/platform.h"
#include "platform/window.h"

#include <cstdint>
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

// Prints "<show ms> <hash>" for every drawn frame: a 64-bit FNV-1a hash of its pixels, for
// checking that two runs draw the same bytes.
void printFrameHashes(app::Application& application) {
    static std::uint64_t hash = 0;
    platform::setFrameObserver([](const std::uint32_t* pixels, int width, int height) {
        std::uint64_t h = 0xCBF29CE484222325ull;
        const std::size_t count = static_cast<std::size_t>(width) * height;
        for (std::size_t i = 0; i < count; ++i) {
            h = (h ^ pixels[i]) * 0x100000001B3ull;
        }
        hash = h;
    });
    application.onFrameDrawn = [](platform::DWORD elapsed) {
        std::printf("%u %016llx\n", static_cast<unsigned>(elapsed),
                    static_cast<unsigned long long>(hash));
    };
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
    config.renderThreads = options.renderThreads;
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
        if (options.frameHashes) {
            printFrameHashes(application);
        }
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
            app::runSceneBenchmark(application, stdout, static_cast<int>(options.benchmarkFrames));
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
    platform::setFrameObserver(nullptr);
    platform::shutdownPlatform();
    return exitValue;
}
