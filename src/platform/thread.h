// Threads: the subset of the system's thread services the sound output uses, with their own
// names and values.
#pragma once

#include "platform/win_types.h"

#include <cstddef>

namespace tessivane::platform {

using HANDLE = void*;
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// Starts start(parameter) on a new thread at once; null when no thread can be made
// (lastPlatformError says why). Only the default security (null) and creation flags 0 are
// supported; stackSize 0 is the default stack. threadId, when not null, receives an id.
HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId);

// THREAD_PRIORITY_TIME_CRITICAL asks for the highest priority this process may give without
// special rights: real-time scheduling where the system allows it, else the lowest nice
// value allowed, else the thread stays as it is. The thread runs either way: TRUE unless
// the handle or the priority value is not one of ours.
BOOL SetThreadPriority(HANDLE thread, int priority);

// Releases the handle. The thread itself runs on until its routine returns; a finished
// thread is joined here, so that nothing of it outlives its handle.
BOOL CloseHandle(HANDLE thread);

// Waits milliseconds of real time. A sleeper also wakes early when a thread made here ends,
// or when a device that plays faster than real time has moved on (wave_out.h, the pull
// device), so that whoever polls for either polls again at once; pollers must therefore
// check their condition again on waking.
void Sleep(DWORD milliseconds);

} // namespace tessivane::platform
