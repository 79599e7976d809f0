// CorePmsg: a fixed number of text rows of a fixed width that scroll up like a
// terminal. The processor, the program reader and the display thread add
// progress lines; the display reads them. Every access takes the board's own
// lock; safe from any thread.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"
#include <cstdint>

class CorePmsg {
public:
    // rows below 1 gives a board that ignores addrw; width below 0 counts as 0.
    CorePmsg(int rows, int width);
    ~CorePmsg();
    CorePmsg(const CorePmsg&) = delete;
    CorePmsg& operator=(const CorePmsg&) = delete;

    // Adds a line cut to its last width characters; when every row is used the
    // rows move up one place first and the oldest line is lost.
    void addrw(const CoreAnsx& text);
    void clear(); // every row empty, none used

    int16_t getrw() const; // the number of rows
    // Copies row i into (*out)[i] for every row; the caller's array holds at
    // least getrw() texts.
    void getrw(CoreAnsx** out) const;
    // A copy of row i; the empty text for i outside 0 .. rows - 1. (An int, so
    // that getrw(0) is not ambiguous with the array form.)
    CoreAnsx getrw(int i) const;

    int32_t getus() const; // rows in use, 0 .. rows

private:
    int32_t iRows;
    int32_t iWidth;
    int32_t iUsed;
    CoreAnsx* pTexts; // iRows rows, oldest first
    mutable CoreSmph oLock;
};
