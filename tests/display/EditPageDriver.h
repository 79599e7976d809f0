// EditPageDriver: drives one display page of a booted engine as a user does, for the page tests: passes,
// clicks and pointer moves through the recording host, the front-panel controls (beans 187 .. 190),
// and the bean trace of the setters the passes sent. Tests only.
#pragma once
#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "display/CoreDspc.h"

#include <memory>
#include <string>
#include <vector>

class EditPageDriver {
public:
    EditPageDriver(CorePrcs& engine, CoreBlnk& clock)
        : engine(engine), display(CoreDsifTestAccess::unstarted(&engine, &queue, &clock, &host)) {
        display->updte(true); // leaves the boot page
        display->updte(true);
    }

    void pass() { display->updte(true); }
    void passes(int n) {
        for (int i = 0; i < n; ++i) pass();
    }
    // Enters page state `state` with one pass.
    void enter(short state) {
        CoreDsifTestAccess::setNextState(*display, state);
        pass();
    }
    // A click on a cell with the pointer held there afterwards, then one pass.
    void click(int column, int row) {
        host.pointer = {column * 8 + 3, row * 12 + 5, true};
        const CoreDspc::MESSAGELOC m{0, 0, column, row, host.pointer.x, host.pointer.y};
        queue.addms(&m);
        pass();
    }
    // A click and its release: two passes.
    void tap(int column, int row) {
        click(column, row);
        release();
    }
    // Typed keys (key messages, one per character) and one pass.
    void type(const std::string& keys) {
        for (char key : keys) {
            const CoreDspc::MESSAGELOC m{1, 0, static_cast<unsigned char>(key), 0, 0, 0};
            queue.addms(&m);
        }
        pass();
    }
    // The held pointer moved by (dx, dy) pixels, then one pass.
    void drag(int dx, int dy) {
        host.pointer.x += dx;
        host.pointer.y += dy;
        pass();
    }
    void release() {
        host.pointer.down = false;
        pass();
    }
    // Front-panel control `control` (0 .. 3) set to `value` (-1 .. +1), then one pass.
    void control(int control, double value) {
        CorePrcs::BEANSTRUCT b{control, 0};
        engine.setbd(190, value, &b);
        pass();
    }
    // Control 0 walked over every item of the page's selector group and back to item 0.
    void walkItems() {
        const short n = CoreDsifTestAccess::selectors(*display).getcn();
        for (short i = 0; i < n; ++i) control(0, CoreDsifTestAccess::selectors(*display).tx2ct(i));
        for (short i = n; i-- > 0;) control(0, CoreDsifTestAccess::selectors(*display).tx2ct(i));
    }
    // Item `item` made current with control 0, then control `control` set to `value`.
    void turn(short item, int control, double value) {
        this->control(0, CoreDsifTestAccess::selectors(*display).tx2ct(item));
        this->control(control, value);
    }
    // The committed program text (text bean 68).
    std::string programText() const {
        CorePrcs::BEANSTRUCT none{};
        return engine.getbs(68, &none).c_str();
    }
    // Starts recording the bean calls; the setters recorded so far are dropped.
    void record() { log = std::make_unique<BeanLog>(engine); }
    // The setter calls recorded since record(), with `skip` ids left out.
    std::vector<std::string> writes(const std::vector<int>& skip = {}) const {
        std::vector<std::string> lines;
        if (!log) return lines;
        for (size_t i = 0; i < log->calls.size(); ++i) {
            const std::string function = log->calls[i].function;
            if (function.compare(0, 4, "setb") != 0) continue;
            bool skipped = false;
            for (int id : skip) skipped = skipped || log->calls[i].id == id;
            if (!skipped) lines.push_back(log->lines[i]);
        }
        return lines;
    }
    bool sane() const { return !log || log->sane; }
    std::string row(int y, int from = 0, int count = CoreDsif::iCdimx) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += CoreDsifTestAccess::grid(*display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    ::testing::AssertionResult screen(const std::string& golden, const std::vector<std::string>& calls = {}) const {
        GoldenScreen g(golden);
        if (!calls.empty()) g.section("calls", calls);
        return g.matches(CoreDsifTestAccess::grid(*display), golden + ".txt");
    }

    CorePrcs& engine;
    CoreDspc queue;
    RecordingHost host;
    std::unique_ptr<CoreDsif> display;
    std::unique_ptr<BeanLog> log;
};
