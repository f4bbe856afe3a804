// The stream interface the module loader reads through: five replaceable callbacks,
// registered process-wide before any module is loaded.
#pragma once

#include <cstdint>

namespace tessivane::music {

// The handle is opaque and owned by the callback set. A name is text, or an integer id (or
// another pointer the callback set documents) passed in its place.
using StreamOpen = void* (*)(const char* name); // null: cannot open
using StreamClose = int (*)(void* handle);      // releases the handle
using StreamRead = std::int32_t (*)(void* buffer, std::int32_t count, void* handle); // bytes read
using StreamSeek = void (*)(void* handle, std::int32_t offset, std::int8_t origin);
using StreamTell = std::int32_t (*)(void* handle);

inline constexpr std::int8_t SEEK_FROM_START = 0;
inline constexpr std::int8_t SEEK_FROM_CURRENT = 1;
inline constexpr std::int8_t SEEK_FROM_END = 2;

// If all five are set they become the registered callbacks; if any is null, all five
// registered callbacks become null.
void setStreamCallbacks(StreamOpen open, StreamClose close, StreamRead read, StreamSeek seek,
                        StreamTell tell);

struct StreamCallbacks {
    StreamOpen open;
    StreamClose close;
    StreamRead read;
    StreamSeek seek;
    StreamTell tell;
};
// The registered set (all null when none is).
StreamCallbacks registeredStreamCallbacks();
bool streamCallbacksRegistered();

// The loader's side of one open stream.
struct ModuleStream {
    void* handle;
};

// Opens name with the registered open; null when it cannot be opened or nothing is
// registered.
ModuleStream* streamOpen(const char* name);
// Closes and releases stream; nothing for null.
void streamClose(ModuleStream* stream);
// Up to count bytes into buffer; how many were read (0 for a null stream).
std::int32_t streamRead(void* buffer, std::int32_t count, ModuleStream* stream);
void streamSeek(ModuleStream* stream, std::int32_t offset, std::int8_t origin);
// The current position (0 for a null stream).
std::int32_t streamTell(ModuleStream* stream);

} // namespace tessivane::music
