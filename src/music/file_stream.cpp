#include "music/file_stream.h"

#include "music/stream.h"

#include <cerrno>
#include <cstdio>
#include <limits>

namespace tessivane::music {

void* fileOpen(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // A directory opens but cannot be read: find out now, while errno still says why.
    errno = 0;
    if (std::fgetc(file) == EOF && std::ferror(file)) {
        const int why = errno != 0 ? errno : EIO;
        std::fclose(file);
        errno = why;
        return nullptr;
    }
    if (std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return nullptr;
    }
    const long size = std::ftell(file);
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) {
        std::fclose(file);
        errno = EFBIG;
        return nullptr;
    }
    std::rewind(file);
    return file;
}

int fileClose(void* handle) {
    return std::fclose(static_cast<std::FILE*>(handle));
}

std::int32_t fileRead(void* buffer, std::int32_t count, void* handle) {
    if (count <= 0) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(count), static_cast<std::FILE*>(handle)));
}

void fileSeek(void* handle, std::int32_t offset, std::int8_t origin) {
    int whence = SEEK_SET;
    switch (origin) {
    case SEEK_FROM_START:
        whence = SEEK_SET;
        break;
    case SEEK_FROM_CURRENT:
        whence = SEEK_CUR;
        break;
    case SEEK_FROM_END:
        whence = SEEK_END;
        break;
    default:
        return;
    }
    std::fseek(static_cast<std::FILE*>(handle), offset, whence);
}

std::int32_t fileTell(void* handle) {
    const long position = std::ftell(static_cast<std::FILE*>(handle));
    if (position < 0) {
        return 0;
    }
    return position > std::numeric_limits<std::int32_t>::max()
               ? std::numeric_limits<std::int32_t>::max()
               : static_cast<std::int32_t>(position);
}

void useFileStreams() {
    setStreamCallbacks(fileOpen, fileClose, fileRead, fileSeek, fileTell);
}

} // namespace tessivane::music
