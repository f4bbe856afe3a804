#include "app/report.h"

#include <cstdarg>
#include <cstdio>

namespace tessivane::app {

namespace {
bool verbose = false;
}

void setVerbose(bool on) {
    verbose = on;
}

bool isVerbose() {
    return verbose;
}

void verboseLine(const char* format, ...) {
    if (!verbose) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

} // namespace tessivane::app
