#include "filestore/CoreHfsy.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "filestore/CoreFsys.h"
#include "platform/CorePict.h"
#include "platform/CorePngd.h"

CorePict* CoreHfsy::ldimg(CoreFsys* store, CoreAnsx name, int32_t& width, int32_t& height, bool& notPng) {
    if (store == nullptr) return nullptr;
    const int32_t id = store->crtit(name);
    if (id < 0) return nullptr;
    store->loadc(id, true);
    void* data = nullptr;
    const int32_t size = store->getco(id, &data);
    if (size <= 0 || data == nullptr) {
        CoreLog_::logfl(name + ": image not found", 1);
        return nullptr;
    }
    CorePict* picture = CorePngd::decod(static_cast<const uint8_t*>(data), static_cast<size_t>(size));
    if (picture == nullptr) {
        CoreLog_::logfl(name + ": not a readable PNG image", 1);
        return nullptr;
    }
    width = picture->width();
    height = picture->height();
    notPng = CoreButl::getfx(name) != CoreAnsx(CoreButl::sCextpng);
    return picture;
}
