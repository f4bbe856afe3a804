#include "platform/timer.h"
#include "platform/window_internal.h"

namespace tessivane::platform::detail {

namespace {

class HeadlessDisplay final : public Display {
public:
    void setVisible(bool) override {}
    void setCursorVisible(bool) override {}
    void present(const std::uint32_t*, int, int, bool waitForRetrace) override {
        if (waitForRetrace) {
            currentClock().waitForRetrace();
        }
    }
};

} // namespace

std::unique_ptr<Display> createHeadlessDisplay() {
    return std::make_unique<HeadlessDisplay>();
}

} // namespace tessivane::platform::detail
