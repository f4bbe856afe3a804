// Inside the music code only.
#pragma once

#include "music/module.h"

namespace tessivane::music::detail {

// Releases module and everything it owns without stopping anything: for modules that have
// never played, such as one whose load failed.
void releaseModule(Module* module);

} // namespace tessivane::music::detail
