// CoreRndr: the render job of vorlan3-render. Loads the plug-in as a Linux host does (CoreVhst),
// boots it, streams a WAV file through it in host-sized blocks with the output lined up to the input
// (the reported latency dropped) into a stereo 32-bit float WAV file, and reports one summary line.
// A program file plays in a private plug-in folder (CoreDemo) removed however the job ends, or by a
// later job after a kill. One job per call; jobs on different files may run on different threads.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class CoreRndr {
public:
    static constexpr int32_t iCmaxblock = 65536;
    static constexpr double dCprogressseconds = 10.0; // longer inputs report progress

    struct OPTIONS {
        std::string plugin; // empty: the default beside the program
        std::string program;
        int32_t block = 512;
        bool doublePrecision = false;
        double tail = 0.0; // seconds of silence rendered after the input
        bool quiet = false;
        std::string input;
        std::string output;
    };

    // The command line without the program name. Throws a CoreAnsx naming the argument and the reason
    // for an unknown option, a missing or bad value, or a count of files other than two.
    static OPTIONS parse(const std::vector<std::string>& arguments);
    // The plug-in found from the program's own location: <its folder>/../vst/Vorlan3.so.
    static std::string defaultPlugin();

    // Runs the job; returns the summary line. Progress goes to progress (unless quiet). The output is
    // written beside OUTPUT and renamed over it once the render is complete. Throws a CoreAnsx naming
    // the file and the reason when anything fails, OUTPUT then keeping what it held before.
    static std::string run(const OPTIONS& options, std::ostream& progress);

    // Asks every running job to stop; safe to call from a signal handler. A job stops at its next
    // step or block and fails as above. stopped() gives the signal asked with, 0 while none was.
    static void stop(int signal);
    static int stopped();
};
