// The 3D interface object: reports the desktop mode and creates devices. Hardware devices
// come from the GPU back end where there is one; the reference device is always there
// unless the platform was told to use hardware only.
#include "platform/d3d9.h"
#include "platform/platform.h"
#include "platform/ref_counted.h"
#include "platform/soft/soft_device.h"
#include "platform/window_internal.h"

#include <new>
#include <string>

namespace tessivane::platform {

namespace {

class Direct3D9 final : public RefCounted<IDirect3D9> {
public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        const PlatformConfig& config = platformConfig();
        if (config.headless) {
            *mode = D3DDISPLAYMODE{640, 480, config.refreshHz, D3DFMT_X8R8G8B8};
            return D3D_OK;
        }
        std::string error;
        if (!detail::querySdlDesktopMode(*mode, error)) {
            detail::setLastError(error);
            return D3DERR_NOTAVAILABLE;
        }
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override {
        if (device == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        *device = nullptr;
        const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                                  D3DCREATE_HARDWARE_VERTEXPROCESSING);
        if (adapter != D3DADAPTER_DEFAULT || parameters == nullptr ||
            (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING &&
             processing != D3DCREATE_HARDWARE_VERTEXPROCESSING)) {
            return D3DERR_INVALIDCALL;
        }
        HWND window =
            parameters->hDeviceWindow != nullptr ? parameters->hDeviceWindow : focusWindow;
        if (detail::windowDisplay(window) == nullptr) {
            detail::setLastError("there is no window to present to");
            return D3DERR_INVALIDCALL;
        }
        const DeviceChoice choice = platformConfig().device;
        switch (deviceType) {
        case D3DDEVTYPE_HAL:
            detail::setLastError(choice == DeviceChoice::Reference
                                     ? "hardware devices are switched off"
                                     : "no hardware 3D device is available");
            return D3DERR_NOTAVAILABLE;
        case D3DDEVTYPE_REF:
            if (choice == DeviceChoice::Hardware) {
                detail::setLastError("the reference device is switched off");
                return D3DERR_NOTAVAILABLE;
            }
            return soft::SoftDevice::create(this, window, *parameters, device);
        }
        return D3DERR_INVALIDCALL;
    }
};

} // namespace

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) {
        detail::setLastError("the 3D interface was asked for an unknown version");
        return nullptr;
    }
    return new (std::nothrow) Direct3D9();
}

} // namespace tessivane::platform
