// PageDriver: a display (without its thread) on a fixture engine whose pages a test drives as a user
// does: passes, clicks, typed keys and front-panel control moves; load batches run to their end on
// the test's thread, and the bean calls are traced from the driver's start. Tests only.
#pragma once
#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "RecordingHost.h"
#include "display/CoreDspc.h"

#include <memory>
#include <string>
#include <vector>

class PageDriver {
public:
    PageDriver(CorePrcs& engine, CoreBlnk& clock)
        : engine(engine), display(CoreDsifTestAccess::unstarted(&engine, &queue, &clock, &host)),
          log(engine) {}

    void pass(int n = 1) {
        for (int i = 0; i < n; ++i) display->updte(true);
    }
    void enter(short state) {
        CoreDsifTestAccess::setNextState(*display, state);
        pass();
    }
    void click(int32_t column, int32_t row) {
        const CoreDspc::MESSAGELOC m{0, 0, column, row, column * 8 + 3, row * 12 + 5};
        queue.addms(&m);
    }
    void type(const std::string& keys) {
        for (char key : keys) {
            const CoreDspc::MESSAGELOC m{1, 0, static_cast<unsigned char>(key), 0, 0, 0};
            queue.addms(&m);
        }
    }
    void turn(int32_t control, double value) {
        CorePrcs::BEANSTRUCT b{control, 0};
        engine.setbd(190, value, &b);
    }
    // Loads a program-memory slot through the load batch, run to its end; the display then shows the
    // program list.
    void load(int32_t slot) {
        CorePrcs::BEANSTRUCT none{};
        engine.setbv(225, &none);
        display->btcst("NEWPROGRAM", CoreAnsx(slot));
        display->btcst("ACTION", "LIST");
        display->btcst("NEXTSTEP", "READPROGRAM");
        CoreDsifTestAccess::setNextState(*display, 22);
        pass();
        CoreDsifTestAccess::runBatch(*display);
        pass();
    }
    CoreAnsx variable(const char* key) {
        CorePrcs::BEANSTRUCT none{};
        engine.setbs(223, key, &none);
        return engine.getbs(224, &none);
    }
    std::string row(int y, int from = 0, int count = CoreDsif::iCdimx) const {
        std::string text;
        for (int x = from; x < from + count; ++x)
            text += CoreDsifTestAccess::grid(*display).cell(x, y)->getch();
        return text;
    }
    // The setter and action calls traced since the last call, but those of the given ids.
    std::vector<std::string> writes(const std::vector<int>& except = {}) {
        std::vector<std::string> lines;
        for (const CorePrcs::BEANCALL& call : log.calls) {
            if (std::string(call.function).rfind("setb", 0) != 0) continue;
            bool skipped = false;
            for (int id : except) skipped = skipped || call.id == id;
            if (!skipped) lines.push_back(BeanLog::line(call));
        }
        log.calls.clear();
        log.lines.clear();
        return lines;
    }

    CorePrcs& engine;
    CoreDspc queue;
    RecordingHost host;
    std::unique_ptr<CoreDsif> display;
    BeanLog log;
};
