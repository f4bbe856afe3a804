#include "music/stream.h"

#include <cstdlib>

namespace tessivane::music {

namespace {

StreamCallbacks registered{};

} // namespace

void setStreamCallbacks(StreamOpen open, StreamClose close, StreamRead read, StreamSeek seek,
                        StreamTell tell) {
    if (open == nullptr || close == nullptr || read == nullptr || seek == nullptr ||
        tell == nullptr) {
        registered = {};
        return;
    }
    registered = {open, close, read, seek, tell};
}

StreamCallbacks registeredStreamCallbacks() {
    return registered;
}

bool streamCallbacksRegistered() {
    return registered.open != nullptr;
}

ModuleStream* streamOpen(const char* name) {
    // With nothing registered there is nothing to open with: a failure, not a crash.
    if (registered.open == nullptr) {
        return nullptr;
    }
    auto* stream = static_cast<ModuleStream*>(std::calloc(1, sizeof(ModuleStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    stream->handle = registered.open(name);
    if (stream->handle == nullptr) {
        std::free(stream);
        return nullptr;
    }
    return stream;
}

void streamClose(ModuleStream* stream) {
    if (stream == nullptr) {
        return;
    }
    // The set may have been cleared while the stream was open; its handle then leaks rather
    // than being passed to a null callback.
    if (registered.close != nullptr) {
        registered.close(stream->handle);
    }
    std::free(stream);
}

std::int32_t streamRead(void* buffer, std::int32_t count, ModuleStream* stream) {
    if (stream == nullptr || registered.read == nullptr) {
        return 0;
    }
    return registered.read(buffer, count, stream->handle);
}

void streamSeek(ModuleStream* stream, std::int32_t offset, std::int8_t origin) {
    if (stream == nullptr || registered.seek == nullptr) {
        return;
    }
    registered.seek(stream->handle, offset, origin);
}

std::int32_t streamTell(ModuleStream* stream) {
    if (stream == nullptr || registered.tell == nullptr) {
        return 0;
    }
    return registered.tell(stream->handle);
}

} // namespace tessivane::music
