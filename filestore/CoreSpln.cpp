#include "filestore/CoreSpln.h"

#include "base/CoreButl.h"

#include <climits>
#include <cmath>
#include <vector>

CoreSpln::CoreSpln(int order) : iOrder(order < 1 ? 1 : order) {}

void CoreSpln::knots(int* out, int n, int t) {
    for (int j = 0; j <= n + t; ++j) {
        if (j < t)
            out[j] = 0;
        else if (j <= n)
            out[j] = j - t + 1;
        else
            out[j] = n - t + 2;
    }
}

void CoreSpln::intrv(int* out, int n) const {
    knots(out, n, iOrder);
}

double CoreSpln::blend(int k, int t, const int* knots, double v) {
    if (t <= 1) return (knots[k] <= v && v < knots[k + 1]) ? 1.0 : 0.0;
    const int rising = knots[k + t - 1] - knots[k];
    const int falling = knots[k + t] - knots[k + 1];
    double value = 0.0;
    if (rising != 0) value = (v - knots[k]) * blend(k, t - 1, knots, v) / rising;
    if (falling != 0) value += (knots[k + t] - v) * blend(k + 1, t - 1, knots, v) / falling;
    return value;
}

void CoreSpln::point(const int* knots, int n, int t, double v, const POINT* control, POINT* out) {
    out->x = 0.0;
    out->y = 0.0;
    out->distance = 0.0;
    if (n < 0 || t < 1 || t > iCmaxorder) return;
    // The span s holds v (knots[s] <= v < knots[s + 1]); only N(s - t + 1 .. s, t) can be non-zero.
    int span = -1;
    for (int lo = 0, hi = n + t; lo <= hi;) {
        const int mid = lo + (hi - lo) / 2;
        if (knots[mid] <= v) {
            span = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (span < 0 || span > n || !(v < knots[span + 1])) return;
    // basis[j][i] = N(first + i, j + 1), computed level by level with exactly the operations of
    // blend, so the values equal the recursive ones; N(span + 1, j) is 0 at every level.
    const int first = span - t + 1 < 0 ? 0 : span - t + 1;
    const int width = span - first + 1;
    double basis[iCmaxorder][iCmaxorder + 1] = {};
    for (int i = 0; i < width; ++i) basis[0][i] = (first + i == span) ? 1.0 : 0.0;
    for (int j = 1; j < t; ++j) {
        const int order = j + 1;
        for (int i = 0; i < width; ++i) {
            const int k = first + i;
            const int rising = knots[k + order - 1] - knots[k];
            const int falling = knots[k + order] - knots[k + 1];
            double value = 0.0;
            if (rising != 0) value = (v - knots[k]) * basis[j - 1][i] / rising;
            if (falling != 0) value += (knots[k + order] - v) * basis[j - 1][i + 1] / falling;
            basis[j][i] = value;
        }
    }
    for (int i = 0; i < width; ++i) {
        const double b = basis[t - 1][i];
        const POINT& c = control[first + i];
        out->x += b * c.x;
        out->y += b * c.y;
        out->distance += b * c.distance;
    }
}

void CoreSpln::splne(int n, const POINT* control, int count, POINT* out) const {
    if (count < 1) return;
    if (n < 0) {
        for (int i = 0; i < count; ++i) out[i] = POINT{0.0, 0.0, 0.0};
        return;
    }
    const int t = iOrder < n + 1 ? iOrder : n + 1;
    std::vector<int> knotVector(static_cast<size_t>(n) + t + 1);
    knots(knotVector.data(), n, t);
    const double end = n - t + 2;
    for (int i = 0; i + 1 < count; ++i)
        point(knotVector.data(), n, t, i * end / (count - 1), control, &out[i]);
    out[count - 1] = control[n];
}

bool CoreSpln::calc_(const POINT* p, POINT* cell) {
    const double distance = std::fabs(p->x - cell->x);
    if (cell->distance < 0.0 || cell->distance >= distance) {
        cell->y = p->y;
        cell->distance = distance;
        return true;
    }
    return false;
}

int CoreSpln::round(double x) {
    const double r = std::ceil(x - 0.5);
    if (!(r == r)) return 0;
    if (r >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (r <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(r);
}

void CoreSpln::drwln(POINT a, POINT b, double* grid) {
    const int ia = round(a.x);
    const int ib = round(b.x);
    if (ib <= ia) return;
    const double step = (b.y - a.y) / (static_cast<double>(ib) - ia);
    for (int x = ia; x < ib; ++x) grid[x] = a.y + (x - ia) * step;
}

void CoreSpln::map__(int n, const POINT* points, int m, POINT* grid) {
    for (int i = 0; i < m; ++i) grid[i] = POINT{static_cast<double>(i), 0.0, -1.0};
    for (int i = 0; i < n; ++i) {
        const int c = round(points[i].x);
        if (c >= 0 && c < m) calc_(&points[i], &grid[c]);
    }
    double value = 0.0;
    int run = 0;
    for (int i = 0; i < m; ++i) {
        if (grid[i].distance < 0.0) {
            ++run;
            continue;
        }
        if (run > 0) {
            const double step = (grid[i].y - value) / (run + 1);
            for (int j = 0; j < run; ++j) {
                grid[i - run + j].y = value + (j + 1) * step;
                grid[i - run + j].distance = 0.0;
            }
            run = 0;
        }
        value = grid[i].y;
    }
    for (int i = m - run; i < m; ++i) {
        grid[i].y = value;
        grid[i].distance = 0.0;
    }
}

void CoreSpln::fixbd(POINT* points, int n, double reference, int index) {
    if (n < 1) return;
    std::vector<double> values(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) values[i] = points[i].y;
    CoreButl::fixbd(values.data(), n, reference, index);
    for (int i = 0; i < n; ++i) points[i].y = values[i];
}
