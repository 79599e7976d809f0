// CoreXwin: the GUI layer's window on X11 through xcb: a child of the host's window showing the
// frame's image, override-redirect popup windows for the open popup levels (holding the pointer
// and keyboard grabs while open), and the translation of X input into the frame's events. One
// connection per window; no thread of its own: every call comes under the frame's lock.
#pragma once
#include "platform/gui/CoreGevt.h"
#include "platform/gui/CoreGwin.h"

#include <cstdint>
#include <string>
#include <vector>

class CFrame;
struct xcb_connection_t;
typedef struct _cairo_surface cairo_surface_t;

class CoreXwin : public CoreGwin {
public:
    // Null, with the reason, when DISPLAY names no server or the parent is no InputOutput
    // window of a TrueColor or DirectColor visual.
    static CoreXwin* create(CFrame* frame, void* systemWindow, std::string& error);
    ~CoreXwin() override;

    bool pollEvents(std::string& error) override;
    void showImage() override;
    void showPopups() override;
    void setKeyFocus(bool wanted) override;

    // The layer's key for a key press: keysym as the keyboard map gives it, modifier state as X
    // reports it. None for a key without a layer key.
    static bool keyFor(uint32_t keysym, uint16_t state, CoreGevt& key);

private:
    struct Popup {
        uint32_t window = 0;
        cairo_surface_t* surface = nullptr;
        int32_t width = 0, height = 0;
    };

    CoreXwin(CFrame* frame, xcb_connection_t* connection);
    bool embed(uint32_t parent, std::string& error);
    void readKeyboardMap();
    uint32_t keysymOf(uint8_t keycode, uint16_t state) const;
    void blit(cairo_surface_t* target, cairo_surface_t* image);
    void readOrigin();
    void setBoundsFromOrigin();
    void closePopups();
    void release(); // the X resources, while the connection stands
    bool broken() const;

    CFrame* pFrame;
    xcb_connection_t* pConnection;
    uint32_t iParent = 0;
    uint32_t iRoot = 0;
    uint32_t iChild = 0;
    uint32_t iVisual = 0;
    int32_t iRootWidth = 0, iRootHeight = 0;
    int32_t iOriginX = 0, iOriginY = 0; // the child's top-left on the root
    cairo_surface_t* pSurface = nullptr;
    std::vector<Popup> vPopups;
    bool bGrabbed = false;
    bool bFocusWanted = false;
    bool bFocusHeld = false;
    bool bGone = false;
    std::string sGone;

    uint8_t iMinKeycode = 8;
    int32_t iSymsPerCode = 0;
    std::vector<uint32_t> vKeysyms;
};
