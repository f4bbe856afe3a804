// The frame clock: paces drawing to one frame per 34 ms at most and moves the show along
// its fixed timeline, measured from the clock's first call.
#include "app/application.h"
#include "platform/timer.h"
#include "scene/scene_director.h"

namespace tessivane::app {

using namespace platform;

// Marks the event as done and tells the listener, the first time only.
void Application::announce(TimelineEvent event, bool& done, DWORD elapsed) {
    if (!done) {
        done = true;
        if (onTimelineEvent) {
            onTimelineEvent(event, elapsed);
        }
    }
}

void Application::tick() {
    if (director == nullptr) {
        return;
    }
    FrameClock& c = frameClock;
    // Two separate reads, as both marks latch on the first call.
    if (!c.startLatched) {
        c.startTime = timeGetTime();
        c.startLatched = true;
    }
    if (!c.lastFrameLatched) {
        c.lastFrameTime = timeGetTime();
        c.lastFrameLatched = true;
    }
    const DWORD now = timeGetTime();
    // Unsigned differences stay right across the timer's wrap.
    if (static_cast<DWORD>(now - c.lastFrameTime) < FRAME_INTERVAL) {
        return;
    }
    director->renderFrame();
    // The reading from before the frame: time spent drawing and waiting for the retrace
    // counts towards the next interval.
    c.lastFrameTime = now;

    const DWORD elapsed = now - c.startTime;
    if (onFrameDrawn) {
        onFrameDrawn(elapsed);
    }
    if (elapsed > SCENE1_TIME && !c.scene1Fired) {
        director->setScene(1);
        announce(TimelineEvent::Scene1, c.scene1Fired, elapsed);
    }
    if (elapsed > SCENE2_TIME && !c.scene2Fired) {
        director->setScene(2);
        announce(TimelineEvent::Scene2, c.scene2Fired, elapsed);
    }
    // Repeated on every frame from here on, whatever else sets it.
    if (elapsed > SUPPLY_END_TIME) {
        director->tunnelActive = false;
        announce(TimelineEvent::SupplyEnd, c.supplyEndReported, elapsed);
    }
    // Repeated until the pump takes the quit; no frame is drawn after that.
    if (elapsed > QUIT_TIME) {
        PostQuitMessage(0);
        announce(TimelineEvent::Quit, c.quitReported, elapsed);
    }
}

} // namespace tessivane::app
