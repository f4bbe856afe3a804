// The program's own resources: data files compiled into the executable and found by type
// and name, the way the system finds the module it plays.
//
// Resources are embedded at build time (tessivane_embed_asset in cmake/EmbedAsset.cmake)
// and live as long as the program: nothing here allocates or needs releasing. Any thread
// may call these once main has started.
#pragma once

#include "platform/win_types.h"

#include <cstdint>

namespace tessivane::platform {

using HMODULE = HINSTANCE;
using HGLOBAL = void*;
using LPVOID = void*;
using LPCSTR = const char*;
struct HRSRC__;
using HRSRC = HRSRC__*;

// A resource type or name is either text or a 16-bit integer id passed in the pointer's
// place; the text "#101" also names the id 101. Text compares without regard to case.
inline LPCSTR MAKEINTRESOURCEA(WORD id) {
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCSTR nameOrId) {
    return (reinterpret_cast<std::uintptr_t>(nameOrId) >> 16) == 0;
}

// The predefined type of raw application data.
inline const LPCSTR RT_RCDATA = MAKEINTRESOURCEA(10);

// Finds the resource of the given name and type in module (null or the program's own
// handle for the program itself); null when there is none (lastPlatformError says why).
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
// A handle to the resource's data; null for a null resource.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The first byte of the resource's data (read-only); null for a null handle.
LPVOID LockResource(HGLOBAL data);
// The resource's size in bytes; 0 for a null resource.
DWORD SizeofResource(HMODULE module, HRSRC resource);

} // namespace tessivane::platform
