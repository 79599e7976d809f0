// vorlan3-render [--plugin FILE.so] [--program FILE] [--block N] [--double] [--tail SECONDS] [--quiet]
//                INPUT.wav OUTPUT.wav
// Renders INPUT.wav through the plug-in into a stereo 32-bit float OUTPUT.wav lined up with the input,
// and prints one summary line. Exit 0 on success, 1 when the job failed, 2 for a bad command line.
#include "base/CoreAnsx.h"
#include "tools/CoreRndr.h"

#include <exception>
#include <iostream>

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
    try {
        const std::string summary = CoreRndr::run(options, std::cerr);
        std::cout << summary << std::endl;
    } catch (const CoreAnsx& error) {
        std::cerr << "vorlan3-render: " << error.c_str() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "vorlan3-render: " << options.input << ": " << error.what() << "\n";
        return 1;
    }
    return 0;
}
