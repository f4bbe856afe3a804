// Stream callback sets over bytes in memory: the program's embedded module (a resource of
// type "XM"), or any block of bytes a caller holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessivane::music {

struct Module;

// The resource id of the module the program plays.
inline constexpr std::uint16_t MODULE_RESOURCE_ID = 101;
// The stream name that opens it with the resource callbacks (the id in a name's place).
const char* moduleResourceName();

// The handle of a stream over bytes in memory.
struct ResourceStream {
    std::int32_t size;        // bytes
    std::int32_t position;    // 0..size
    const std::uint8_t* data; // not owned
};

// Opens the resource of type "XM" with the id passed as name (or a text name). Always
// returns a stream: one of size 0 when the program has no such resource.
void* resourceOpen(const char* name);
int resourceClose(void* handle);
// Up to count bytes from the position; fewer at the end, none for a negative count.
std::int32_t resourceRead(void* buffer, std::int32_t count, void* handle);
// From the start (0), the position (1) or the end (2); stops at either end; any other origin
// leaves the position where it is.
void resourceSeek(void* handle, std::int32_t offset, std::int8_t origin);
std::int32_t resourceTell(void* handle);

// Registers the resource callbacks, as the program does before it loads its module.
void useResourceStreams();

// A block of bytes for memoryOpen, passed as the stream name.
struct MemoryBlock {
    const void* data;
    std::size_t size; // at most INT32_MAX
};
// Opens a ResourceStream over the MemoryBlock that name points to; null when it is too large.
// Close, read, seek and tell are the resource ones.
void* memoryOpen(const char* name);

// Loads a module from size bytes at data (an XM file in memory), with the memory callbacks
// registered only for this call; the earlier registration is restored afterwards. Null on
// failure, with lastModuleError() saying why.
Module* loadModuleFromMemory(const void* data, std::size_t size);

} // namespace tessivane::music
