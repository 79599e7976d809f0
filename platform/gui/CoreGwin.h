// CoreGwin: the seam to a window system: the window a frame is shown in inside the host's window.
// A window posts its input to the frame during CFrame::idle, takes the frame's image after each
// redraw and the popup levels when they change, sets the popup bounds and takes the key focus
// while the frame wants keys. Called under the frame's lock.
#pragma once
#include <string>

class CFrame;

class CoreGwin {
public:
    virtual ~CoreGwin() = default;

    // The window for a frame in the host's window systemWindow; null, with the reason in error,
    // when none can be made. This build has no window layer: frames stay offscreen.
    static CoreGwin* create(CFrame* frame, void* systemWindow, std::string& error);

    virtual void pollEvents() = 0;       // posts pending input to the frame
    virtual void showImage() = 0;        // after a redraw of the frame's image
    virtual void showPopups() = 0;       // after the popup levels changed
    virtual void setKeyFocus(bool wanted) = 0;
};
