// vorlan3-render [--plugin FILE.so] [--program FILE] [--block N] [--double] [--tail SECONDS] [--quiet]
//                INPUT.wav OUTPUT.wav
// Renders INPUT.wav through the plug-in into a stereo 32-bit float OUTPUT.wav lined up with the input,
// and prints one summary line (to the error stream when OUTPUT is the standard output). Exit 0 on
// success, 1 when the job failed, 2 for a bad command line.
// Stopped by SIGINT, SIGTERM or SIGHUP, it cleans up as after a failure and ends by that signal; a
// pipe closed by its reader fails the job as any other write does.
#include "base/CoreAnsx.h"
#include "tools/CoreRndr.h"

#include <csignal>
#include <exception>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first signal asks the job to stop at its next block, so that it removes its private folder and
// leaves OUTPUT as it was; a second one ends the program at once.
extern "C" void onStopSignal(int signal) {
    if (CoreRndr::stopped() != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    CoreRndr::stop(signal);
}

// A signal ignored when the program started (nohup, a background job) stays ignored. No SA_RESTART
// (which std::signal implies): an open waiting for a pipe's reader must fail, or the job never gets to
// its next stop point.
void catchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(signal, &stop, nullptr);
    }
}

// After a stopped job has cleaned up, the program ends by the signal, as the caller's shell expects.
int failed() {
    if (const int signal = CoreRndr::stopped()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    CoreRndr::OPTIONS options;
    try {
        options = CoreRndr::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const CoreAnsx& error) {
        std::cerr << "vorlan3-render: " << error.c_str() << "\n"
                  << "usage: vorlan3-render [--plugin FILE.so] [--program FILE] [--block N] [--double] "
                     "[--tail SECONDS] [--quiet] INPUT.wav OUTPUT.wav\n";
        return 2;
    }
    catchStopSignals();
    // A reader of OUTPUT that stops early (| head) fails the write with its reason, and the job cleans up.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const std::string summary = CoreRndr::run(options, std::cerr);
        // A render into its own standard output (a pipe to a player) keeps that stream WAV alone.
        struct stat standardOutput {}, output {};
        const bool intoStandardOutput = fstat(STDOUT_FILENO, &standardOutput) == 0 &&
                                        stat(options.output.c_str(), &output) == 0 &&
                                        standardOutput.st_dev == output.st_dev && standardOutput.st_ino == output.st_ino;
        (intoStandardOutput ? std::cerr : std::cout) << summary << std::endl;
    } catch (const CoreAnsx& error) {
        std::cerr << "vorlan3-render: " << error.c_str() << "\n";
        return failed();
    } catch (const std::exception& error) {
        std::cerr << "vorlan3-render: " << options.input << ": " << error.what() << "\n";
        return failed();
    }
    return 0;
}
