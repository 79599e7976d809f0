// CoreGwin: the seam to a window system: the window a frame is shown in inside the host's window.
// A window posts its input to the frame during CFrame::idle, takes the frame's image after each
// redraw and the popup levels when they change, sets the popup bounds and takes the key focus
// while the frame wants keys. Called under the frame's lock, from whichever thread holds it.
#pragma once
#include <string>

class CFrame;

class CoreGwin {
public:
    virtual ~CoreGwin() = default;

    // The window for a frame in the host's window systemWindow (an X11 window id); null, with
    // the reason in error, when none can be made.
    static CoreGwin* create(CFrame* frame, void* systemWindow, std::string& error);

    // Posts pending input to the frame; false, with the reason, once the window is gone (the
    // host's window destroyed, the connection lost): the frame then deletes it.
    virtual bool pollEvents(std::string& error) = 0;
    virtual void showImage() = 0;        // after a redraw of the frame's image
    virtual void showPopups() = 0;       // after the popup levels changed
    virtual void setKeyFocus(bool wanted) = 0;
};
