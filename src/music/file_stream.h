// Stream callbacks over files on disk, for playing module files by path.
#pragma once

#include <cstdint>

namespace tessivane::music {

// Opens the file at the path name for reading; null when it cannot be opened (errno says
// why). Files of 2 GiB or more are refused: positions are 32-bit.
void* fileOpen(const char* name);
int fileClose(void* handle);
std::int32_t fileRead(void* buffer, std::int32_t count, void* handle);
// A seek before the start leaves the position unchanged.
void fileSeek(void* handle, std::int32_t offset, std::int8_t origin);
std::int32_t fileTell(void* handle);

// Registers the file callbacks.
void useFileStreams();

} // namespace tessivane::music
