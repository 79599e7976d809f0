// vorlan3-mkdemo FOLDER: writes the demo plug-in folder (FOLDER/Vorlan3.xml and FOLDER/demo/), the same
// bytes on every machine. The build runs it to lay out build/vst/.
#include "base/CoreAnsx.h"
#include "tools/CoreDemo.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vorlan3-mkdemo FOLDER\n";
        return 2;
    }
    try {
        CoreDemo::write(argv[1]);
    } catch (const CoreAnsx& error) {
        std::cerr << "vorlan3-mkdemo: " << error.c_str() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "vorlan3-mkdemo: " << argv[1] << ": " << error.what() << "\n";
        return 1;
    }
    return 0;
}
