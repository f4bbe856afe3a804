// Reference counting for the objects behind the platform's interfaces.
#pragma once

#include "platform/win_types.h"

namespace tessivane::platform {

// Implements AddRef/Release of Interface. Objects start with one reference, the one their
// creator hands out, and delete themselves when the last is released.
template <class Interface>
class RefCounted : public Interface {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    ULONG references_ = 1;
};

} // namespace tessivane::platform
