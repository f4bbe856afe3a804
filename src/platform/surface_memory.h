// Inside the platform layer only: the pixels behind a surface, for platform code that writes
// or reads them directly (text drawn onto a texture level, screenshots of a target).
#pragma once

#include "platform/d3d9.h"

#include <cstdint>

namespace tessivane::platform::detail {

struct SurfaceMemory {
    std::uint8_t* bits = nullptr; // row 0, the top row
    int pitch = 0;                // bytes from one row to the next
    int width = 0;
    int height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
};

// Implemented by every surface whose pixels live in memory the CPU can reach.
class CpuSurface {
public:
    // The surface's memory, after every pending draw into or out of it has finished.
    virtual SurfaceMemory memory() = 0;
    // Whether the surface, or another level of its texture, is locked or taken.
    virtual bool isLocked() = 0;
    // Takes the surface the way LockRect does, so that LockRect fails until giveBack: for
    // writers that hold the pixels across calls (a device context). False, with nothing
    // taken, when the surface or another level of its texture is already locked.
    virtual bool take(SurfaceMemory& memory) = 0;
    virtual void giveBack() = 0;

protected:
    ~CpuSurface() = default;
};

// The CPU side of a surface, or null when its pixels are not in CPU memory.
CpuSurface* cpuSurface(IDirect3DSurface9* surface);

} // namespace tessivane::platform::detail
