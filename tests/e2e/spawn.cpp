#include "spawn.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tessivane::e2e {

std::string temporaryPath(const std::string& name) {
    // Names of this process's own, so that runs by other users or in parallel never meet.
    return ::testing::TempDir() + "tessivane-e2e-" + std::to_string(getpid()) + "-" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Outcome spawn(const std::string& program, std::vector<std::string> args,
              std::vector<std::string> env, double terminateAfter) {
    const std::string outPath = temporaryPath("run.out");
    const std::string errPath = temporaryPath("run.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), program);
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
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << program;
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

} // namespace tessivane::e2e
