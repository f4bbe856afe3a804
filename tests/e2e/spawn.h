// Running a program as a user runs it, for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace tessivane::e2e {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    double seconds = 0.0;
};

// Runs program with args and extra environment settings (which replace inherited ones of
// the same name), its stdout and stderr captured; sends SIGTERM after terminateAfter seconds
// when that is positive, and kills it after TESSIVANE_PROGRAM_TIME_LIMIT seconds (longer in
// the sanitizer build, which draws several times slower) whatever happens.
Outcome spawn(const std::string& program, std::vector<std::string> args,
              std::vector<std::string> env = {}, double terminateAfter = 0.0);

std::string readFile(const std::string& path);

// A file name of this test process's own in the test's temporary directory.
std::string temporaryPath(const std::string& name);

} // namespace tessivane::e2e
