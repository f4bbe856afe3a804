// Still pictures of the show.
#pragma once

#include "app/application.h"

#include <string>

namespace tessivane::app {

// Runs a started application up to the first frame drawn at or after show time seconds
// and writes that frame as a PNG to path. False, with error set, when the picture could
// not be written or the show ended first.
bool runScreenshot(Application& application, double seconds, const std::string& path,
                   std::string& error);

} // namespace tessivane::app
