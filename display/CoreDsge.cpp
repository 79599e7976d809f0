#include "display/CoreDsge.h"

#include <cstdint>
#include <string>

CoreDsge::CoreDsge(CoreDsbf* grid, CoreDspc* queue, DisplayHost* host) : pGrid(grid), pQueue(queue), pHost(host) {}

CoreDsge::~CoreDsge() { deleteFields(); }

void CoreDsge::deleteFields() {
    for (CoreDsed* field : vFields) delete field;
    vFields.clear();
}

void CoreDsge::reset(short n) {
    deleteFields();
    for (short i = 0; i < n; ++i) vFields.push_back(new CoreDsed(pGrid));
    iCount = n;
}

CoreDsed* CoreDsge::gettx(short i) const {
    if (i < 0 || i >= iCount || i >= static_cast<short>(vFields.size())) return nullptr;
    return vFields[static_cast<size_t>(i)];
}

void CoreDsge::clear() { deleteFields(); }

void CoreDsge::sendKeyboard(bool on) {
    bKeyboard = on;
    if (!pHost) return;
    const uint8_t flag = on ? 1 : 0;
    pHost->stprp(DisplayHost::iCkeyboard, 0, 0, &flag, 1);
    pHost->prchg(DisplayHost::iCkeyboard, 0, 0);
}

void CoreDsge::focus(short column, short row, bool down) {
    if ((column == 0 && row == 0) || !down) return;
    bool hit = false;
    for (CoreDsed* field : vFields) {
        if (field->ishre(column, row)) {
            // Keys typed while no field had the keyboard belong to no field: they must not land here.
            if (!hit && pQueue) pQueue->clrms(1);
            field->setar(true);
            hit = true;
            sendKeyboard(true);
        } else {
            field->setar(false);
        }
    }
    bArmed = hit;
    if (!hit) sendKeyboard(false);
}

void CoreDsge::draw_() {
    std::string keys;
    if (bArmed && pQueue) {
        CoreDspc::MESSAGELOC message{};
        while (pQueue->getms(1, &message)) {
            const int code = CoreDspc::keyCode(message);
            if (code != 0) keys += static_cast<char>(code);
        }
    }
    bool anyArmed = false;
    const CoreAnsx keyText(keys.c_str());
    for (CoreDsed* field : vFields) {
        if (field->getar()) {
            anyArmed = true;
            field->updte(keyText);
        }
        field->draw_();
    }
    if (!anyArmed && bArmed) {
        bArmed = false;
        sendKeyboard(false);
    }
}
