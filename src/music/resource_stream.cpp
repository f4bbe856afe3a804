#include "music/resource_stream.h"

#include "music/module.h"
#include "music/stream.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tessivane::music {

int resourceClose(void* handle) {
    std::free(handle);
    return 0;
}

std::int32_t resourceRead(void* buffer, std::int32_t count, void* handle) {
    auto* stream = static_cast<ResourceStream*>(handle);
    // Worked out in 64 bits, and a negative count or position reads nothing: those would
    // otherwise copy from before the data or a negative number of bytes.
    if (count <= 0 || stream->position < 0 || stream->position >= stream->size) {
        return 0;
    }
    const std::int64_t left = std::int64_t{stream->size} - stream->position;
    const auto n = static_cast<std::int32_t>(count < left ? count : left);
    std::memcpy(buffer, stream->data + stream->position, static_cast<std::size_t>(n));
    stream->position += n;
    return n;
}

void resourceSeek(void* handle, std::int32_t offset, std::int8_t origin) {
    auto* stream = static_cast<ResourceStream*>(handle);
    std::int64_t position = stream->position;
    switch (origin) {
    case SEEK_FROM_START:
        position = offset;
        break;
    case SEEK_FROM_CURRENT:
        position += offset;
        break;
    case SEEK_FROM_END:
        position = std::int64_t{stream->size} + offset;
        break;
    default:
        return;
    }
    // A seek before the start stops at the start, as one past the end stops at the end.
    if (position > stream->size) {
        position = stream->size;
    }
    if (position < 0) {
        position = 0;
    }
    stream->position = static_cast<std::int32_t>(position);
}

std::int32_t resourceTell(void* handle) {
    return static_cast<ResourceStream*>(handle)->position;
}

void* memoryOpen(const char* name) {
    const auto* block = reinterpret_cast<const MemoryBlock*>(name);
    if (block == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // Positions are 32-bit signed.
    if (block->size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        errno = EFBIG;
        return nullptr;
    }
    auto* stream = static_cast<ResourceStream*>(std::calloc(1, sizeof(ResourceStream)));
    if (stream != nullptr) {
        stream->data = static_cast<const std::uint8_t*>(block->data);
        stream->size = static_cast<std::int32_t>(block->size);
    }
    return stream;
}

Module* loadModuleFromMemory(const void* data, std::size_t size) {
    const StreamCallbacks earlier = registeredStreamCallbacks();
    setStreamCallbacks(memoryOpen, resourceClose, resourceRead, resourceSeek, resourceTell);
    const MemoryBlock block{data, size};
    Module* module = loadModule(reinterpret_cast<const char*>(&block));
    setStreamCallbacks(earlier.open, earlier.close, earlier.read, earlier.seek, earlier.tell);
    return module;
}

} // namespace tessivane::music
