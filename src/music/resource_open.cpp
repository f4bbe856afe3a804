// The part of the resource streams that reaches the program's resources, kept apart so
// that the memory streams build without the platform layer.
#include "music/resource_stream.h"
#include "music/stream.h"
#include "platform/resource.h"

#include <cstdlib>

namespace tessivane::music {

using platform::FindResourceA;
using platform::LoadResource;
using platform::LockResource;
using platform::SizeofResource;

const char* moduleResourceName() {
    return platform::MAKEINTRESOURCEA(MODULE_RESOURCE_ID);
}

void* resourceOpen(const char* name) {
    auto* stream = static_cast<ResourceStream*>(std::calloc(1, sizeof(ResourceStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    // A missing resource leaves a stream of size 0 that the loader rejects as empty.
    const platform::HRSRC resource = FindResourceA(nullptr, name, "XM");
    stream->data = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    const platform::DWORD size = SizeofResource(nullptr, resource);
    // Sizes are 32-bit signed here; a resource that large cannot be a module anyway.
    stream->size = size > 0x7FFFFFFFu ? 0 : static_cast<std::int32_t>(size);
    stream->position = 0;
    return stream;
}

void useResourceStreams() {
    setStreamCallbacks(resourceOpen, resourceClose, resourceRead, resourceSeek, resourceTell);
}

} // namespace tessivane::music
