#pragma once
#include "PeloraVoiceApp/hud/HUDGeometry.h"

// The overlay's window as its logic sees it. The Qt panel implements it; tests use a fake.
class HUDWindow {
public:
    virtual ~HUDWindow() = default;
    // Mapped on the X screen.
    virtual bool isOnScreen() const = 0;
    // Clicks pass through to the window beneath while ignored.
    virtual void setIgnoresMouseEvents(bool ignores) = 0;
    // Moves the window's top-left corner there and redraws at once.
    virtual void placeAt(HUDPoint topLeft) = 0;
    // Maps and raises the window without activating it or taking the focus.
    virtual void orderFront() = 0;
    // Unmaps the window.
    virtual void orderOut() = 0;
};
