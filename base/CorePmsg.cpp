#include "base/CorePmsg.h"

#include <algorithm>

CorePmsg::CorePmsg(int rows, int width)
    : iRows(std::max(rows, 0)), iWidth(std::max(width, 0)), iUsed(0),
      pTexts(new CoreAnsx[iRows > 0 ? iRows : 1]) {
    clear();
}

CorePmsg::~CorePmsg() {
    delete[] pTexts;
}

void CorePmsg::addrw(const CoreAnsx& text) {
    if (iRows < 1) return;
    // A long progress line keeps its end (the percentage, the element), not its
    // start.
    const int length = text.Length();
    CoreAnsx line("");
    if (length > iWidth)
        line = text.SubString(length - iWidth + 1, iWidth);
    else if (length > 0)
        line = text;
    oLock.locks();
    if (iUsed == iRows) {
        for (int i = 0; i + 1 < iRows; ++i) pTexts[i] = pTexts[i + 1];
        --iUsed;
    }
    pTexts[iUsed] = line;
    ++iUsed;
    oLock.relse();
}

void CorePmsg::clear() {
    oLock.locks();
    iUsed = 0;
    for (int i = 0; i < iRows; ++i) pTexts[i] = CoreAnsx("");
    oLock.relse();
}

int16_t CorePmsg::getrw() const {
    oLock.locks();
    const int32_t rows = iRows;
    oLock.relse();
    return static_cast<int16_t>(std::min<int32_t>(rows, INT16_MAX));
}

void CorePmsg::getrw(CoreAnsx** out) const {
    if (out == nullptr || *out == nullptr) return;
    oLock.locks();
    for (int i = 0; i < iRows; ++i) (*out)[i] = pTexts[i];
    oLock.relse();
}

CoreAnsx CorePmsg::getrw(int i) const {
    if (i < 0 || i >= iRows) return CoreAnsx("");
    oLock.locks();
    CoreAnsx row = pTexts[i];
    oLock.relse();
    return row;
}

int32_t CorePmsg::getus() const {
    oLock.locks();
    const int32_t used = iUsed;
    oLock.relse();
    return used;
}
