// CoreLog_: the log of the whole system. Static members only: each call appends one whole line
// to the log file (opened, written and closed per call, under a process-wide mutex so lines from
// several threads never interleave). Lines are filtered by the debug level; debug lines carry an
// elapsed-time stamp from one of ten timers. Also holds the system's fixed texts.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CoreLog_ {
public:
    // Fixed texts (constant character data, so they never depend on static initialisation order).
    static constexpr const char* sCerrorprm = "***ERROR***>";
    static constexpr const char* sCerrorfle = "Error in file";
    static constexpr const char* sCerrortag = "Error in tag";
    static constexpr const char* sCsimplelogpath = "test.log"; // inside the log folder
    static constexpr const char* sCerrorsm2 = "SSE2 not supported";
    static constexpr const char* sCwarngcvd = "CONVOLUTION:";
    static constexpr const char* sCvendor_n = "Lisko";
    static constexpr const char* sCversion_ = "1.3.502";
    static constexpr const char* sCsubvrsn_ = "(Zelk3 r1.0)";
    static constexpr const char* sCtarget__ = "BT";
    static constexpr const char* sCproductn = "Vorlan3 lisko";
    static constexpr const char* sCmagicnum = "o010";
    static constexpr const char* sCwarngbin = "MERIVANE LOADER ver ";
    static constexpr const char* sCwarngbdl = "DEBUG level: ";
    static constexpr const char* sCwarngbmo = "MASTER Ok ";
    static constexpr const char* sCwarngbmk = "MASTER Ko: master descriptor not found ";
    static constexpr const char* sCwarngbro = "ROM MEMORY Ok ";
    static constexpr const char* sCwarngbrk = "ROM MEMORY Ko: rom descriptor not found ";
    static constexpr const char* sCwarngbpo = "PROGRAM MANAGER Ok ";
    static constexpr const char* sCwarngbso = "SSE2 supported ";
    static constexpr const char* sCwarngbsk = "SSE2 not supported ";
    static constexpr const char* sCwarngbco = "CONVOLVER ENGINE Ok ";
    static constexpr const char* sCwarngbgo = "GRAPHICS Ok ";
    static constexpr const char* sCwarngbio = "PROGRAM #0 Ok ";
    static constexpr const char* sCwarngsto = "SETTINGS Ok ";
    static constexpr const char* sCwarngbeo = "STARTING...";
    static constexpr const char* sCstatsloa = "Loading";
    static constexpr const char* sCstatspar = "Parsing";
    static constexpr const char* sCstatsexe = "Executing";
    static constexpr const char* sCdefaultfilename = "Vorlan3lisko.log";
    static const int16_t iCproductn = 1;
    static const int16_t iCsprodctn = 1;
    static constexpr double dVsecondsperday = 86400.0;

    // Every writer returns normally whatever happens: a line that cannot be written (no folder set,
    // file not openable, memory short) is lost.
    static void logas(const CoreAnsx& text);
    static void debug(const CoreAnsx& text, int32_t timer, int16_t level);
    static void debgs(const CoreAnsx& name, const CoreAnsx& value, int32_t timer, int16_t level);
    static void debgb(const CoreAnsx& name, bool flag, int32_t timer, int16_t level);
    static void debgd(const CoreAnsx& name, double number, int32_t timer, int16_t level);
    static void debgi(const CoreAnsx& name, int number, int32_t timer, int16_t level);
    static void loger(const CoreAnsx& text, int16_t level);
    static void logfl(const CoreAnsx& text, int16_t level);
    static void logtg(const CoreAnsx& text, int16_t level);
    static void login(const CoreAnsx& text, int number);
    static void trace(const CoreAnsx& text, bool flag);
    static void dtime(const CoreAnsx& text);
    static void smlog(const CoreAnsx& text);
    static void setdb(int16_t level, bool timestamps);
    static int16_t getdb();
    static bool aredb();
    static void setpt(const CoreAnsx& folder); // ends with '/'; the file name is appended as it is
    static CoreAnsx getpt();
    static void setfn(const CoreAnsx& name);
    static CoreAnsx getfn();
    static void settr(int16_t level); // trace level

    // Test seam: the clock of the debug timers, in days (null restores the wall clock).
    static void setClockForTest(double (*daysNow)());
};
