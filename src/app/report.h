// What the program tells the person running it: verbose progress lines on stderr.
#pragma once

namespace tessivane::app {

void setVerbose(bool on);
bool isVerbose();
// One line on stderr, printf-style, when verbose output is on.
void verboseLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace tessivane::app
