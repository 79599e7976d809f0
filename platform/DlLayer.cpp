#include "platform/DlLayer.h"

#include <dlfcn.h>

void* dlLayerOpen(const char* path) {
    if (!path) return nullptr;
    return dlopen(path, RTLD_LAZY | RTLD_LOCAL);
}

void* dlLayerOpenNow(const char* path) {
    if (!path) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* dlLayerSymbol(void* handle, const char* name) {
    if (!handle || !name) return nullptr;
    return dlsym(handle, name);
}

bool dlLayerClose(void* handle) {
    return handle && dlclose(handle) == 0;
}

std::string dlLayerError() {
    const char* text = dlerror();
    return text ? std::string(text) : std::string();
}

std::string dlLayerOwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&dlLayerOwnFolder), &info) == 0 || !info.dli_fname) return "./";
    std::string path(info.dli_fname);
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
