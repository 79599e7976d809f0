// LogCapture: points the system's log at a fresh temporary folder at the given debug level for the
// lifetime of the object, then switches it off again (level 0, no folder, default file name, wall
// clock). text() is the whole file, texts() its lines without the "pid-tid " prefix. One at a time.
#pragma once
#include "base/CoreLog_.h"
#include "tests/common/TempFolder.h"

#include <sstream>
#include <string>
#include <vector>

class LogCapture {
public:
    explicit LogCapture(int16_t level, bool timestamps = false) : folder("log") {
        CoreLog_::setpt(CoreAnsx(folder.withSeparator().c_str()));
        CoreLog_::setfn(CoreAnsx(CoreLog_::sCdefaultfilename));
        CoreLog_::setdb(level, timestamps);
    }
    ~LogCapture() {
        CoreLog_::setClockForTest(nullptr);
        CoreLog_::setdb(0, false);
        CoreLog_::settr(0);
        CoreLog_::setfn(CoreAnsx(CoreLog_::sCdefaultfilename));
        CoreLog_::setpt(CoreAnsx(""));
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text(const char* name = CoreLog_::sCdefaultfilename) const {
        return readBytes(folder / name);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> lines;
        std::istringstream in(text());
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }

    TempFolder folder;
};
