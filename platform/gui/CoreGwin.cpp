#include "platform/gui/CoreGwin.h"

#include "platform/gui/CoreXwin.h"

CoreGwin* CoreGwin::create(CFrame* frame, void* systemWindow, std::string& error) {
    return CoreXwin::create(frame, systemWindow, error);
}
