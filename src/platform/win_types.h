// The basic types and result conventions of the system services we stand in for, with
// their own names and sizes, so that calling code reads as it does against the real thing.
#pragma once

#include <cstdint>

namespace tessivane::platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = int;
using BOOL = int;
using HRESULT = std::int32_t;
using ATOM = WORD;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

// Any negative result is a failure.
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct HWND__;
using HWND = HWND__*;
using HANDLE = void*;
struct HDC__;
using HDC = HDC__*; // a device context for drawing text

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct RGNDATA;

} // namespace tessivane::platform
