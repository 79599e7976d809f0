// BeanLog: the processor's bean trace as the "-- calls" lines of a golden screen: function, id, the
// index record as the case reads it ([index] or [index,subindex]) and the value ("%G", a text in
// quotes). Installed for the object's lifetime; tests only, with no other thread calling beans.
#pragma once
#include "processor/CorePrcs.h"

#include <cmath>
#include <string>
#include <vector>

class BeanLog {
public:
    explicit BeanLog(CorePrcs& engine) : engine(engine) {
        engine.setBeanTrace([this](const CorePrcs::BEANCALL& call) { add(call); });
    }
    ~BeanLog() { engine.setBeanTrace(nullptr); }
    BeanLog(const BeanLog&) = delete;
    BeanLog& operator=(const BeanLog&) = delete;

    static std::string line(const CorePrcs::BEANCALL& call) {
        std::string text = std::string(call.function) + " " + std::to_string(call.id);
        if (call.uses == 1) text += " [" + std::to_string(call.index) + "]";
        if (call.uses == 2) text += " [" + std::to_string(call.index) + "," + std::to_string(call.subindex) + "]";
        const std::string function = call.function;
        if (function == "setbs")
            text += " \"" + std::string(call.text.c_str()) + "\"";
        else if (function != "setbv")
            text += " " + std::string(CoreAnsx(call.value).c_str());
        return text;
    }

    std::vector<std::string> lines;
    std::vector<CorePrcs::BEANCALL> calls;
    // Whether every numeric value was finite and every control value (187 .. 193) within -1 .. +1.
    bool sane = true;

private:
    void add(const CorePrcs::BEANCALL& call) {
        lines.push_back(line(call));
        calls.push_back(call);
        if (!std::isfinite(call.value)) sane = false;
        if ((call.id == 189 || call.id == 190) && std::fabs(call.value) > 1.0) sane = false;
    }

    CorePrcs& engine;
};
