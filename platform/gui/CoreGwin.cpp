#include "platform/gui/CoreGwin.h"

CoreGwin* CoreGwin::create(CFrame*, void*, std::string& error) {
    error = "no window layer";
    return nullptr;
}
