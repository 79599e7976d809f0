// CPoint: a pixel position in frame coordinates (x to the right, y down). A plain value.
#pragma once
#include <cstdint>

struct CPoint {
    int32_t x = 0;
    int32_t y = 0;

    CPoint() = default;
    CPoint(int32_t x, int32_t y) : x(x), y(y) {}
    bool operator==(const CPoint&) const = default;
};
