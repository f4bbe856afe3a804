// Inside the platform layer only: what the devices tell the thread services.
#pragma once

namespace tessivane::platform::detail {

// Wakes every thread inside Sleep at once.
void wakeSleepers();

} // namespace tessivane::platform::detail
