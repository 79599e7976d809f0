// CRect: a pixel rectangle, left and top inside, right and bottom just outside. A rectangle with
// right ≤ left or bottom ≤ top is empty: it is never drawn and never hit. A plain value.
#pragma once
#include "platform/gui/CPoint.h"

#include <algorithm>
#include <cstdint>

struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    CRect() = default;
    CRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
        : left(left), top(top), right(right), bottom(bottom) {}

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool pointInside(const CPoint& p) const {
        return !isEmpty() && p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    CRect& offset(int32_t dx, int32_t dy) {
        left += dx, right += dx, top += dy, bottom += dy;
        return *this;
    }
    // The common part; empty when they do not meet.
    CRect intersection(const CRect& o) const {
        return CRect(std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                     std::min(bottom, o.bottom));
    }
    bool operator==(const CRect&) const = default;
};
