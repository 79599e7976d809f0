#include "platform/gui/CoreXwin.h"

#include "platform/gui/AEffGUIEditor.h"
#include "platform/gui/CFrame.h"

#include <cairo-xcb.h>
#include <algorithm>
#include <cairo.h>
#include <cstdlib>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

namespace {

// Host modifier bits, as a VST 2.4 host hands them with a key.
constexpr int32_t kShiftModifier = 1, kAltModifier = 2, kControlModifier = 8;

template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
ReplyPtr<Reply> own(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

xcb_visualtype_t* findVisual(xcb_connection_t* connection, xcb_visualid_t id) {
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(connection)); screen.rem; xcb_screen_next(&screen))
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem; xcb_depth_next(&depth))
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem; xcb_visualtype_next(&visual))
                if (visual.data->visual_id == id) return visual.data;
    return nullptr;
}

// Keysyms of keys without a character, as the host's virtual keys the layer reads.
struct NamedKey {
    uint32_t keysym;
    unsigned char virt;
};
constexpr NamedKey kNamedKeys[] = {
    {0xff0d, VKEY_RETURN}, {0xff8d, VKEY_ENTER},    {0xff08, VKEY_BACK},     {0xff09, VKEY_TAB},
    {0xfe20, VKEY_TAB},    {0xff1b, VKEY_ESCAPE},   {0xff50, VKEY_HOME},     {0xff57, VKEY_END},
    {0xff55, VKEY_PAGEUP}, {0xff56, VKEY_PAGEDOWN}, {0xff51, VKEY_LEFT},     {0xff52, VKEY_UP},
    {0xff53, VKEY_RIGHT},  {0xff54, VKEY_DOWN},     {0xff63, VKEY_INSERT},   {0xffff, VKEY_DELETE},
};

// Keypad keysyms that type a character.
struct KeypadKey {
    uint32_t keysym;
    char character;
};
constexpr KeypadKey kKeypadKeys[] = {
    {0xff80, ' '}, {0xffaa, '*'}, {0xffab, '+'}, {0xffac, ','}, {0xffad, '-'},
    {0xffae, '.'}, {0xffaf, '/'}, {0xffbd, '='},
};

bool isLowerLatin1Letter(uint32_t keysym) {
    return (keysym >= 'a' && keysym <= 'z') || (keysym >= 0xe0 && keysym <= 0xfe && keysym != 0xf7);
}

int32_t buttonsOf(uint16_t state) {
    return ((state & XCB_BUTTON_MASK_1) ? kLButton : 0) | ((state & XCB_BUTTON_MASK_2) ? kMButton : 0) |
           ((state & XCB_BUTTON_MASK_3) ? kRButton : 0);
}

int32_t buttonBit(uint8_t detail) {
    return detail == 1 ? kLButton : detail == 2 ? kMButton : detail == 3 ? kRButton : 0;
}

} // namespace

CoreXwin* CoreXwin::create(CFrame* frame, void* systemWindow, std::string& error) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(systemWindow);
    if (id == 0 || id > 0xffffffffu) {
        error = "the host's window id is not an X11 window id";
        return nullptr;
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        error = "no X display (DISPLAY is not set)";
        return nullptr;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        error = std::string("cannot connect to the X display ") + display;
        return nullptr;
    }
    CoreXwin* window = new CoreXwin(frame, connection);
    if (!window->embed(uint32_t(id), error)) {
        delete window;
        return nullptr;
    }
    return window;
}

CoreXwin::CoreXwin(CFrame* frame, xcb_connection_t* connection) : pFrame(frame), pConnection(connection) {}

CoreXwin::~CoreXwin() {
    if (!broken()) release();
    // cairo keeps a device per connection: it is finished before the connection goes, so that a
    // later connection never meets it.
    cairo_device_t* device = pSurface ? cairo_device_reference(cairo_surface_get_device(pSurface)) : nullptr;
    if (pSurface) cairo_surface_destroy(pSurface);
    for (Popup& popup : vPopups)
        if (popup.surface) cairo_surface_destroy(popup.surface);
    if (device) {
        cairo_device_finish(device);
        cairo_device_destroy(device);
    }
    xcb_disconnect(pConnection);
}

bool CoreXwin::broken() const { return bGone || xcb_connection_has_error(pConnection); }

bool CoreXwin::embed(uint32_t parent, std::string& error) {
    xcb_generic_error_t* failure = nullptr;
    auto attributes = own(xcb_get_window_attributes_reply(pConnection, xcb_get_window_attributes(pConnection, parent),
                                                          &failure));
    std::free(failure);
    auto geometry = own(xcb_get_geometry_reply(pConnection, xcb_get_geometry(pConnection, parent), &failure));
    std::free(failure);
    if (!attributes || !geometry) {
        error = "the host's window " + std::to_string(parent) + " is no window on the display";
        return false;
    }
    if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
        error = "the host's window is an InputOnly window";
        return false;
    }
    const xcb_visualtype_t* visual = findVisual(pConnection, attributes->visual);
    if (!visual || (visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR && visual->_class != XCB_VISUAL_CLASS_DIRECT_COLOR)) {
        error = "the host's window has no TrueColor or DirectColor visual";
        return false;
    }
    iParent = parent;
    iRoot = geometry->root;
    iVisual = attributes->visual;
    auto root = own(xcb_get_geometry_reply(pConnection, xcb_get_geometry(pConnection, iRoot), nullptr));
    if (root) iRootWidth = root->width, iRootHeight = root->height;

    const CRect& size = pFrame->getViewSize();
    const uint16_t width = uint16_t(std::clamp(size.width(), 1, 32767));
    const uint16_t height = uint16_t(std::clamp(size.height(), 1, 32767));
    iChild = xcb_generate_id(pConnection);
    const uint32_t values[] = {XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                               XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                               XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    failure = xcb_request_check(pConnection, xcb_create_window_checked(pConnection, geometry->depth, iChild, parent, 0, 0,
                                                                       width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                                                       iVisual, XCB_CW_EVENT_MASK, values));
    if (failure) {
        std::free(failure);
        iChild = 0;
        error = "the editor's window cannot be made in the host's window";
        return false;
    }
    xcb_map_window(pConnection, iChild);
    pSurface = cairo_xcb_surface_create(pConnection, iChild, const_cast<xcb_visualtype_t*>(visual), width, height);
    readKeyboardMap();
    readOrigin();
    setBoundsFromOrigin();
    xcb_flush(pConnection);
    if (broken()) {
        error = "the X connection failed while the editor's window was made";
        return false;
    }
    return true;
}

void CoreXwin::release() {
    closePopups();
    if (bFocusHeld) xcb_set_input_focus(pConnection, XCB_INPUT_FOCUS_PARENT, iParent, XCB_CURRENT_TIME);
    bFocusHeld = false;
    if (pSurface) cairo_surface_finish(pSurface);
    if (iChild) xcb_destroy_window(pConnection, iChild);
    iChild = 0;
    xcb_flush(pConnection);
}

void CoreXwin::readKeyboardMap() {
    const xcb_setup_t* setup = xcb_get_setup(pConnection);
    iMinKeycode = setup->min_keycode;
    const int count = int(setup->max_keycode) - int(setup->min_keycode) + 1;
    auto map = own(xcb_get_keyboard_mapping_reply(
        pConnection, xcb_get_keyboard_mapping(pConnection, setup->min_keycode, uint8_t(count)), nullptr));
    vKeysyms.clear();
    iSymsPerCode = 0;
    if (!map) return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    vKeysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(map.get()));
    iSymsPerCode = map->keysyms_per_keycode;
}

uint32_t CoreXwin::keysymOf(uint8_t keycode, uint16_t state) const {
    if (iSymsPerCode <= 0 || keycode < iMinKeycode) return 0;
    const size_t first = size_t(keycode - iMinKeycode) * size_t(iSymsPerCode);
    if (first >= vKeysyms.size()) return 0;
    const uint32_t plain = vKeysyms[first];
    const uint32_t shifted = iSymsPerCode > 1 && vKeysyms[first + 1] ? vKeysyms[first + 1] : 0;
    uint32_t keysym = plain;
    if (state & XCB_MOD_MASK_SHIFT) {
        if (shifted) keysym = shifted;
        else if (isLowerLatin1Letter(plain)) keysym = plain - 0x20;
    }
    if ((state & XCB_MOD_MASK_LOCK) && isLowerLatin1Letter(keysym)) keysym -= 0x20;
    return keysym;
}

bool CoreXwin::keyFor(uint32_t keysym, uint16_t state, CoreGevt& key) {
    VstKeyCode code{};
    code.modifier = uint8_t(((state & XCB_MOD_MASK_SHIFT) ? kShiftModifier : 0) |
                            ((state & XCB_MOD_MASK_1) ? kAltModifier : 0) |
                            ((state & XCB_MOD_MASK_CONTROL) ? kControlModifier : 0));
    if (keysym >= 0xffbe && keysym <= 0xffc9) code.virt = uint8_t(VKEY_F1 + (keysym - 0xffbe));
    for (const NamedKey& named : kNamedKeys)
        if (named.keysym == keysym) code.virt = named.virt;
    if (keysym >= 0xffb0 && keysym <= 0xffb9) code.character = int32_t('0' + (keysym - 0xffb0));
    for (const KeypadKey& keypad : kKeypadKeys)
        if (keypad.keysym == keysym) code.character = keypad.character;
    if (keysym >= 0x20 && keysym <= 0xff) code.character = int32_t(keysym);
    if (code.virt == 0 && code.character == 0) return false;
    const std::optional<CoreGevt> event = AEffGUIEditor::keyEvent(code);
    if (!event) return false;
    key = *event;
    return true;
}

void CoreXwin::readOrigin() {
    auto reply = own(xcb_translate_coordinates_reply(pConnection, xcb_translate_coordinates(pConnection, iChild, iRoot, 0, 0),
                                                     nullptr));
    if (reply) iOriginX = reply->dst_x, iOriginY = reply->dst_y;
}

void CoreXwin::setBoundsFromOrigin() {
    if (iRootWidth > 0 && iRootHeight > 0)
        pFrame->setPopupBounds(CRect(-iOriginX, -iOriginY, iRootWidth - iOriginX, iRootHeight - iOriginY));
}

bool CoreXwin::pollEvents(std::string& error) {
    if (broken()) {
        error = sGone.empty() ? "the connection to the X display was lost" : sGone;
        return false;
    }
    if (bFocusWanted != bFocusHeld) {
        xcb_set_input_focus(pConnection, XCB_INPUT_FOCUS_PARENT, bFocusWanted ? iChild : iParent, XCB_CURRENT_TIME);
        bFocusHeld = bFocusWanted;
    }
    bool exposed = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(pConnection)) {
        auto event = own(raw);
        switch (raw->response_type & 0x7f) {
        case XCB_EXPOSE:
            if (reinterpret_cast<xcb_expose_event_t*>(raw)->window == iChild) exposed = true;
            break;
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE: {
            auto* button = reinterpret_cast<xcb_button_press_event_t*>(raw);
            const bool press = (raw->response_type & 0x7f) == XCB_BUTTON_PRESS;
            if (button->event == iChild && !bGrabbed) {
                iOriginX = button->root_x - button->event_x, iOriginY = button->root_y - button->event_y;
                setBoundsFromOrigin();
            }
            const CPoint where(button->root_x - iOriginX, button->root_y - iOriginY);
            if (button->detail >= 4 && button->detail <= 7) {
                if (press)
                    pFrame->post(button->detail <= 5
                                     ? CoreGevt::wheel(where, button->detail == 4 ? 1.0f : -1.0f, kMouseWheelAxisY)
                                     : CoreGevt::wheel(where, button->detail == 6 ? -1.0f : 1.0f, kMouseWheelAxisX));
                break;
            }
            const int32_t bit = buttonBit(button->detail);
            if (!bit) break;
            const int32_t held = buttonsOf(button->state);
            pFrame->post(press ? CoreGevt::down(where, held | bit) : CoreGevt::up(where, held & ~bit));
            break;
        }
        case XCB_MOTION_NOTIFY: {
            auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(raw);
            pFrame->post(CoreGevt::move(CPoint(motion->root_x - iOriginX, motion->root_y - iOriginY),
                                        buttonsOf(motion->state)));
            break;
        }
        case XCB_KEY_PRESS: {
            auto* press = reinterpret_cast<xcb_key_press_event_t*>(raw);
            CoreGevt key;
            if (keyFor(keysymOf(press->detail, press->state), press->state, key)) pFrame->post(key);
            break;
        }
        case XCB_MAPPING_NOTIFY:
            if (reinterpret_cast<xcb_mapping_notify_event_t*>(raw)->request != XCB_MAPPING_POINTER) readKeyboardMap();
            break;
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(raw)->window == iChild) {
                iChild = 0;
                closePopups();
                xcb_flush(pConnection);
                bGone = true;
                sGone = "the host's window was destroyed";
            }
            break;
        default: // errors of requests on windows gone meanwhile, and events not selected
            break;
        }
    }
    if (broken()) {
        error = sGone.empty() ? "the connection to the X display was lost" : sGone;
        return false;
    }
    if (exposed) showImage();
    xcb_flush(pConnection);
    return true;
}

void CoreXwin::blit(cairo_surface_t* target, cairo_surface_t* image) {
    cairo_surface_flush(image);
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
}

void CoreXwin::showImage() {
    if (broken() || !pSurface) return;
    blit(pSurface, pFrame->getImage().getSurface());
    xcb_flush(pConnection);
}

void CoreXwin::showPopups() {
    if (broken()) return;
    const size_t levels = size_t(pFrame->getPopupLevelCount());
    if (levels == 0) {
        closePopups();
        xcb_flush(pConnection);
        return;
    }
    if (vPopups.empty()) readOrigin();
    while (vPopups.size() > levels) {
        Popup& last = vPopups.back();
        cairo_surface_destroy(last.surface);
        xcb_destroy_window(pConnection, last.window);
        vPopups.pop_back();
    }
    const xcb_screen_t* screen = nullptr;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(pConnection)); it.rem; xcb_screen_next(&it))
        if (it.data->root == iRoot) screen = it.data;
    if (!screen) return;
    xcb_visualtype_t* visual = findVisual(pConnection, screen->root_visual);
    for (size_t i = 0; i < levels; ++i) {
        const CRect& rect = pFrame->getPopupLevelRect(int32_t(i));
        const int32_t width = std::clamp(rect.width(), 1, 32767), height = std::clamp(rect.height(), 1, 32767);
        const int32_t x = std::clamp(rect.left + iOriginX, -32768, 32767);
        const int32_t y = std::clamp(rect.top + iOriginY, -32768, 32767);
        if (i == vPopups.size()) {
            Popup popup;
            popup.window = xcb_generate_id(pConnection);
            const uint32_t values[] = {1, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                              XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS};
            xcb_create_window(pConnection, screen->root_depth, popup.window, iRoot, int16_t(x), int16_t(y),
                              uint16_t(width), uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                              XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
            xcb_map_window(pConnection, popup.window);
            popup.surface = cairo_xcb_surface_create(pConnection, popup.window, visual, width, height);
            popup.width = width, popup.height = height;
            vPopups.push_back(popup);
        } else {
            Popup& popup = vPopups[i];
            const uint32_t values[] = {uint32_t(x), uint32_t(y), uint32_t(width), uint32_t(height)};
            xcb_configure_window(pConnection, popup.window,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                     XCB_CONFIG_WINDOW_HEIGHT,
                                 values);
            if (popup.width != width || popup.height != height) {
                cairo_xcb_surface_set_size(popup.surface, width, height);
                popup.width = width, popup.height = height;
            }
        }
        blit(vPopups[i].surface, pFrame->getPopupLevelImage(int32_t(i)).getSurface());
    }
    if (!bGrabbed) {
        // Refused grabs (another client holds one) leave the popup working without them.
        const uint32_t root = vPopups.front().window;
        auto pointer = own(xcb_grab_pointer_reply(
            pConnection,
            xcb_grab_pointer(pConnection, 0, root,
                             XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION,
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
            nullptr));
        auto keyboard = own(xcb_grab_keyboard_reply(
            pConnection,
            xcb_grab_keyboard(pConnection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
        bGrabbed = true; // ungrabbing what was refused does nothing
        (void)pointer, (void)keyboard;
    }
    xcb_flush(pConnection);
}

void CoreXwin::closePopups() {
    if (bGrabbed) {
        xcb_ungrab_pointer(pConnection, XCB_CURRENT_TIME);
        xcb_ungrab_keyboard(pConnection, XCB_CURRENT_TIME);
        bGrabbed = false;
    }
    for (Popup& popup : vPopups) {
        cairo_surface_destroy(popup.surface);
        xcb_destroy_window(pConnection, popup.window);
    }
    vPopups.clear();
}

void CoreXwin::setKeyFocus(bool wanted) { bFocusWanted = wanted; }
