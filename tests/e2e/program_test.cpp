// The tessivane program as a user runs it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    double seconds = 0.0;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the program with extra environment settings; sends SIGTERM after terminateAfter
// seconds when that is positive, and kills it after TESSIVANE_PROGRAM_TIME_LIMIT seconds
// (longer in the sanitizer build, which draws several times slower) whatever happens.
Outcome run(std::vector<std::string> args, std::vector<std::string> env = {},
            double terminateAfter = 0.0) {
    // Names of this process's own, so that runs by other users or in parallel never meet.
    const std::string stem = ::testing::TempDir() + "tessivane-e2e-" + std::to_string(getpid());
    const std::string outPath = stem + ".out";
    const std::string errPath = stem + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), TESSIVANE_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    // The given settings replace any inherited ones of the same name.
    std::vector<std::string> environment = env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string setting = *e;
        const std::string name = setting.substr(0, setting.find('=') + 1);
        bool overridden = false;
        for (const auto& mine : env) {
            overridden = overridden || mine.rfind(name, 0) == 0;
        }
        if (!overridden) {
            environment.push_back(setting);
        }
    }
    std::vector<char*> envp;
    for (auto& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Outcome outcome;
    if (posix_spawn(&pid, TESSIVANE_PROGRAM, &actions, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << TESSIVANE_PROGRAM;
        return outcome;
    }
    posix_spawn_file_actions_destroy(&actions);
    bool terminated = false;
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            break;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (terminateAfter > 0.0 && !terminated && elapsed > terminateAfter) {
            kill(pid, SIGTERM);
            terminated = true;
        }
        if (elapsed > TESSIVANE_PROGRAM_TIME_LIMIT) {
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = readFile(outPath);
    outcome.err = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return outcome;
}

// The elapsed time of a "timeline: EVENT at N ms" line.
unsigned eventTime(const std::string& err, const std::string& event) {
    const std::string prefix = "timeline: " + event + " at ";
    const std::size_t at = err.find(prefix);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no '" << event << "' in:\n" << err;
        return 0;
    }
    const std::size_t digits = at + prefix.size();
    const std::size_t end = err.find(" ms\n", digits);
    EXPECT_NE(end, std::string::npos);
    return static_cast<unsigned>(std::stoul(err.substr(digits, end - digits)));
}

TEST(Program, HeadlessRunsTheWholeTimelineOnTheVirtualClock) {
    const Outcome o = run({"--headless", "--verbose"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: device attempt 3 (reference device) succeeded"),
              std::string::npos)
        << o.err;
    // At 60 Hz drawn frames come every 34 ms, so each event lands on the first multiple
    // of 34 past its time.
    EXPECT_EQ(eventTime(o.err, "scene 1"), 48008u);
    EXPECT_EQ(eventTime(o.err, "scene 2"), 62084u);
    EXPECT_EQ(eventTime(o.err, "recycling ends"), 90032u);
    EXPECT_EQ(eventTime(o.err, "quit"), 96016u);
    EXPECT_TRUE(o.out.empty());
}

TEST(Program, ModelledRefreshRateShapesTheTimeline) {
    const Outcome o = run({"--headless", "--verbose", "--refresh", "24"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    const unsigned quit = eventTime(o.err, "quit");
    EXPECT_GT(quit, 96000u);
    EXPECT_LE(quit, 96000u + 42u); // one 24 Hz period
    EXPECT_NE(quit, 96016u);
}

TEST(Program, WithoutVerboseASuccessfulRunPrintsNothing) {
    const Outcome o = run({"--headless"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.err, "");
}

TEST(Program, HelpVersionAndBadUsage) {
    Outcome o = run({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out.rfind("usage: tessivane", 0), 0u);
    o = run({"--version"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "tessivane " TESSIVANE_VERSION "\n");
    o = run({"--no-such-option"});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("unknown option '--no-such-option'"), std::string::npos);
    EXPECT_NE(o.err.find("usage: tessivane"), std::string::npos);
    o = run({"--refresh", "0"});
    EXPECT_EQ(o.exitCode, 2);
}

TEST(Program, FailuresSayWhatFailedAndExitOne) {
    Outcome o = run({"--headless", "--device", "hal"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: start-up failed: no 3D device could be created", 0), 0u)
        << o.err;
    o = run({"--window", "--mute"}, {"SDL_VIDEODRIVER=no-such-driver"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("tessivane: start-up failed: no display", 0), 0u) << o.err;
}

TEST(Program, WindowedShowEndsCleanlyWhenAskedToStop) {
    // The dummy video driver gives a real window-system path without a screen; a
    // termination request arrives as the window system's quit.
    const Outcome o = run({"--window", "--mute", "--verbose"},
                          {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, 1.5);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("start-up: window shown"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("timeline:"), std::string::npos) << o.err;
}

} // namespace
