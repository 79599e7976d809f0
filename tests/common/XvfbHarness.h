// XvfbHarness: an X server of the test's own for the GUI tests: starts Xvfb on a free display
// (-displayfd, so test programs run in parallel), points DISPLAY at it, maps a parent window (the
// host's window) on its own connection, sends input through XTEST so that it arrives as from a
// device (implicit grabs, focus and the popup's grabs apply), captures windows, and kills and
// reaps the server at the end. A test skips when ready() is false (reason() says why).
#pragma once
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class XvfbHarness {
public:
    static constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
    static constexpr int kParentX = 100, kParentY = 80, kParentWidth = 640, kParentHeight = 480;

    XvfbHarness() {
        std::signal(SIGPIPE, SIG_IGN); // a killed server must fail writes, not end the test
        if (const char* old = std::getenv("DISPLAY")) sOldDisplay = old, bHadDisplay = true;
        if (!startServer()) return;
        pConnection = xcb_connect(sDisplay.c_str(), nullptr);
        if (xcb_connection_has_error(pConnection)) {
            sReason = "cannot connect to Xvfb on " + sDisplay;
            return;
        }
        pScreen = xcb_setup_roots_iterator(xcb_get_setup(pConnection)).data;
        iParent = makeWindow(XCB_WINDOW_CLASS_INPUT_OUTPUT);
        mapParent();
        readKeyboardMap();
        bReady = true;
    }
    ~XvfbHarness() {
        if (pConnection) xcb_disconnect(pConnection);
        stopServer(SIGTERM);
        if (bHadDisplay) setenv("DISPLAY", sOldDisplay.c_str(), 1);
        else unsetenv("DISPLAY");
    }
    XvfbHarness(const XvfbHarness&) = delete;
    XvfbHarness& operator=(const XvfbHarness&) = delete;

    bool ready() const { return bReady; }
    const std::string& reason() const { return sReason; }
    const std::string& display() const { return sDisplay; }
    xcb_connection_t* connection() const { return pConnection; }
    uint32_t root() const { return pScreen->root; }
    uint32_t parent() const { return iParent; }
    static void* handle(uint32_t window) { return reinterpret_cast<void*>(uintptr_t(window)); }

    // A window at the parent's place on the root (override-redirect, as no window manager runs).
    uint32_t makeWindow(uint16_t windowClass) {
        const uint32_t window = xcb_generate_id(pConnection);
        const uint32_t values[] = {pScreen->black_pixel, 1, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        const bool output = windowClass == XCB_WINDOW_CLASS_INPUT_OUTPUT;
        xcb_create_window(pConnection, output ? pScreen->root_depth : 0, window, pScreen->root, kParentX, kParentY,
                          kParentWidth, kParentHeight, 0, windowClass, pScreen->root_visual,
                          (output ? XCB_CW_BACK_PIXEL : 0) | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK,
                          output ? values : values + 1);
        sync();
        return window;
    }
    uint32_t makePixmap() {
        const uint32_t pixmap = xcb_generate_id(pConnection);
        xcb_create_pixmap(pConnection, pScreen->root_depth, pixmap, pScreen->root, 16, 16);
        sync();
        return pixmap;
    }
    void mapParent() {
        xcb_map_window(pConnection, iParent);
        sync();
    }
    // Moves the parent's top-left to (x, y) on the screen; input stays at parent coordinates.
    void moveParent(int x, int y) {
        const uint32_t values[] = {uint32_t(x), uint32_t(y)};
        xcb_configure_window(pConnection, iParent, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        sync();
        iParentX = x, iParentY = y;
    }
    void unmapParent() {
        xcb_unmap_window(pConnection, iParent);
        sync();
    }
    void destroyWindow(uint32_t window) {
        xcb_destroy_window(pConnection, window);
        sync();
    }
    // Kills the server at once, as a crash would.
    void killServer() { stopServer(SIGKILL); }

    // A round trip: every request sent so far has been processed.
    void sync() {
        if (!pConnection || xcb_connection_has_error(pConnection)) return;
        std::free(xcb_get_input_focus_reply(pConnection, xcb_get_input_focus(pConnection), nullptr));
    }

    // Input at parent coordinates; buttons 1–7 (4–7 the wheel).
    void move(int x, int y) { fake(XCB_MOTION_NOTIFY, 0, iParentX + x, iParentY + y); }
    void moveOnScreen(int x, int y) { fake(XCB_MOTION_NOTIFY, 0, x, y); }
    void press(int button) { fake(XCB_BUTTON_PRESS, uint8_t(button), 0, 0); }
    void release(int button) { fake(XCB_BUTTON_RELEASE, uint8_t(button), 0, 0); }
    void click(int x, int y, int button = 1) {
        move(x, y);
        press(button);
        release(button);
    }
    void clickOnScreen(int x, int y) {
        moveOnScreen(x, y);
        press(1);
        release(1);
    }
    void wheel(int x, int y, int button) { click(x, y, button); }
    // Press at from, steps moves on the line to to, release there.
    void drag(int fromX, int fromY, int toX, int toY, int steps = 4, int button = 1) {
        move(fromX, fromY);
        press(button);
        for (int i = 1; i <= steps; ++i) move(fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
        release(button);
    }
    // Presses and releases the key typing keysym (with Shift when it sits in the second column); a
    // keysym on no key is first mapped to a spare keycode.
    void key(uint32_t keysym, bool shift = false) {
        uint8_t code = 0;
        bool needsShift = shift;
        if (!findKey(keysym, code, needsShift)) code = mapKey(keysym);
        const uint8_t shiftCode = needsShift ? keycodeOf(0xffe1) : 0;
        if (shiftCode) fake(XCB_KEY_PRESS, shiftCode, 0, 0);
        fake(XCB_KEY_PRESS, code, 0, 0);
        fake(XCB_KEY_RELEASE, code, 0, 0);
        if (shiftCode) fake(XCB_KEY_RELEASE, shiftCode, 0, 0);
    }
    uint8_t keycodeOf(uint32_t keysym) {
        uint8_t code = 0;
        bool shift = false;
        return findKey(keysym, code, shift) ? code : 0;
    }
    // Maps keysym alone on a keycode that has none; all clients get a MappingNotify.
    uint8_t mapKey(uint32_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(pConnection);
        for (int code = setup->max_keycode; code >= setup->min_keycode; --code) {
            const size_t first = size_t(code - setup->min_keycode) * size_t(iSymsPerCode);
            bool empty = true;
            for (int i = 0; i < iSymsPerCode; ++i) empty = empty && vKeysyms[first + size_t(i)] == 0;
            if (!empty) continue;
            std::vector<uint32_t> syms(size_t(iSymsPerCode), 0);
            syms[0] = keysym;
            xcb_change_keyboard_mapping(pConnection, 1, uint8_t(code), uint8_t(iSymsPerCode), syms.data());
            sync();
            readKeyboardMap();
            return uint8_t(code);
        }
        return 0;
    }

    // The window's pixels as 0xRRGGBB, row by row; empty when it cannot be read.
    struct Capture {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels;
        uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    };
    Capture capture(uint32_t window) {
        Capture shot;
        sync();
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(pConnection, xcb_get_geometry(pConnection, window), nullptr);
        if (!geometry) return shot;
        const int width = geometry->width, height = geometry->height;
        std::free(geometry);
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            pConnection, xcb_get_image(pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(width),
                                       uint16_t(height), ~0u),
            nullptr);
        if (!image) return shot;
        const uint8_t* data = xcb_get_image_data(image);
        const int length = xcb_get_image_data_length(image);
        if (length >= width * height * 4) { // 32 bits a pixel, least significant byte first
            shot.width = width, shot.height = height;
            for (int i = 0; i < width * height; ++i)
                shot.pixels.push_back(uint32_t(data[i * 4 + 2]) << 16 | uint32_t(data[i * 4 + 1]) << 8 | data[i * 4]);
        }
        std::free(image);
        return shot;
    }

    struct Place {
        int x = 0, y = 0, width = 0, height = 0;
        bool overrideRedirect = false, viewable = false;
    };
    // The children of a window, bottom first.
    std::vector<uint32_t> children(uint32_t window) {
        std::vector<uint32_t> found;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(pConnection, xcb_query_tree(pConnection, window), nullptr);
        if (!tree) return found;
        const xcb_window_t* list = xcb_query_tree_children(tree);
        found.assign(list, list + xcb_query_tree_children_length(tree));
        std::free(tree);
        return found;
    }
    // The mapped override-redirect windows on the root besides the parent: the popups.
    std::vector<uint32_t> popups() {
        std::vector<uint32_t> found;
        for (uint32_t window : children(root()))
            if (window != iParent) {
                const Place at = place(window);
                if (at.overrideRedirect && at.viewable) found.push_back(window);
            }
        return found;
    }
    Place place(uint32_t window) {
        Place at;
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(pConnection, xcb_get_geometry(pConnection, window), nullptr);
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(pConnection, xcb_get_window_attributes(pConnection, window), nullptr);
        xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
            pConnection, xcb_translate_coordinates(pConnection, window, root(), 0, 0), nullptr);
        if (geometry) at.width = geometry->width, at.height = geometry->height;
        if (origin) at.x = origin->dst_x, at.y = origin->dst_y;
        if (attributes) {
            at.overrideRedirect = attributes->override_redirect;
            at.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        }
        std::free(geometry), std::free(attributes), std::free(origin);
        return at;
    }
    uint32_t focus() {
        xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(pConnection, xcb_get_input_focus(pConnection), nullptr);
        const uint32_t window = reply ? reply->focus : 0;
        std::free(reply);
        return window;
    }
    // Whether a second client can grab the pointer (no grab of another client holds it).
    bool pointerGrabbable() {
        xcb_connection_t* other = xcb_connect(sDisplay.c_str(), nullptr);
        bool grabbed = false;
        if (!xcb_connection_has_error(other)) {
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
            xcb_grab_pointer_reply_t* reply = xcb_grab_pointer_reply(
                other,
                xcb_grab_pointer(other, 0, screen->root, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                                 XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                nullptr);
            grabbed = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
            std::free(reply);
        }
        xcb_disconnect(other);
        return grabbed;
    }

    // Polls condition until it holds or the deadline passes; true when it held.
    static bool waitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds deadline = std::chrono::milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    bool startServer() {
        int channel[2];
        if (pipe(channel) != 0) return sReason = "no pipe for Xvfb", false;
        fcntl(channel[0], F_SETFD, FD_CLOEXEC);
        const std::string fd = std::to_string(channel[1]);
        char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), const_cast<char*>(fd.c_str()),
                        const_cast<char*>("-screen"), const_cast<char*>("0"), const_cast<char*>("1280x1024x24"),
                        const_cast<char*>("-nolisten"), const_cast<char*>("tcp"), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&iServer, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(channel[1]);
        if (spawned != 0) {
            close(channel[0]);
            iServer = -1;
            return sReason = "Xvfb cannot be started (is the Debian package xvfb installed?)", false;
        }
        std::string number;
        pollfd wait{channel[0], POLLIN, 0};
        char c = 0;
        while (poll(&wait, 1, 10000) > 0 && read(channel[0], &c, 1) == 1 && c != '\n') number += c;
        close(channel[0]);
        if (number.empty()) {
            stopServer(SIGKILL);
            return sReason = "Xvfb started but reported no display", false;
        }
        sDisplay = ":" + number;
        setenv("DISPLAY", sDisplay.c_str(), 1);
        return true;
    }
    void stopServer(int signal) {
        if (iServer <= 0) return;
        kill(iServer, signal);
        int status = 0;
        waitpid(iServer, &status, 0);
        iServer = -1;
    }
    void fake(uint8_t type, uint8_t detail, int x, int y) {
        if (!pConnection || xcb_connection_has_error(pConnection)) return;
        xcb_test_fake_input(pConnection, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root() : XCB_NONE,
                            int16_t(x), int16_t(y), 0);
        sync();
    }
    void readKeyboardMap() {
        const xcb_setup_t* setup = xcb_get_setup(pConnection);
        xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
            pConnection,
            xcb_get_keyboard_mapping(pConnection, setup->min_keycode, uint8_t(setup->max_keycode - setup->min_keycode + 1)),
            nullptr);
        if (!map) return;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        vKeysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(map));
        iSymsPerCode = map->keysyms_per_keycode;
        std::free(map);
    }
    bool findKey(uint32_t keysym, uint8_t& code, bool& shift) {
        const xcb_setup_t* setup = xcb_get_setup(pConnection);
        for (int column = 0; column < 2 && column < iSymsPerCode; ++column)
            for (int k = setup->min_keycode; k <= setup->max_keycode; ++k)
                if (vKeysyms[size_t(k - setup->min_keycode) * size_t(iSymsPerCode) + size_t(column)] == keysym) {
                    code = uint8_t(k);
                    shift = shift || column == 1;
                    return true;
                }
        return false;
    }

    pid_t iServer = -1;
    std::string sDisplay, sReason, sOldDisplay;
    bool bHadDisplay = false, bReady = false;
    xcb_connection_t* pConnection = nullptr;
    const xcb_screen_t* pScreen = nullptr;
    uint32_t iParent = 0;
    int iParentX = kParentX, iParentY = kParentY;
    int iSymsPerCode = 0;
    std::vector<uint32_t> vKeysyms;
};
