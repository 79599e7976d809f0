// CoreSpln: polylines for short or low-order curves, points equal to the full basis sum, and lines
// drawn over half-open ranges.
#include "filestore/CoreSpln.h"

#include <gtest/gtest.h>

#include <random>

using Point = CoreSpln::POINT;

TEST(CoreSpln, OrderTwoOrFewerPointsThanTheOrderDrawThePolylineAndACountBelowTwoOnlyTheLastPoint) {
    struct Row { int order, lastIndex, count; std::vector<Point> control; std::vector<double> y; };
    const std::vector<Point> four = {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 4, 0}};
    const Row rows[] = {
        // v = i * 2 / 8 runs over 0 .. 1.75, control point k sits at v = k; the last point closes.
        {2, 2, 9, {{0, 1, 0}, {10, 5, 0}, {20, -3, 0}}, {1, 2, 3, 4, 5, 3, 1, -1, -3}},
        {4, 1, 5, {{0, 2, 0}, {8, 6, 0}}, {2, 3, 4, 5, 6}}, // the order falls to 2
        {3, 3, 1, four, {4, -7}},
        {3, 3, 0, four, {-7, -7}}, // no room: nothing written
    };
    for (const Row& r : rows) {
        CoreSpln spline(r.order);
        std::vector<Point> out(r.y.size(), Point{-7, -7, -7});
        spline.splne(r.lastIndex, r.control.data(), r.count, out.data());
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_NEAR(out[i].y, r.y[i], 1e-12) << r.order << " " << r.count << " " << i;
    }
}

// The fast evaluation sums only the basis functions that are not zero, and gives the full sum exactly.
TEST(CoreSpln, PointEqualsTheSumOverEveryBasisFunction) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    const int n = 30;
    std::vector<Point> control(n + 1);
    for (auto& p : control) p = {value(random), value(random), value(random)};
    for (int t : {1, 3, 7}) {
        std::vector<int> knots(n + t + 1);
        CoreSpln(t).intrv(knots.data(), n);
        for (int i = 0; i < 200; ++i) {
            const double v = i * (n - t + 2) / 200.0;
            double x = 0.0, y = 0.0, distance = 0.0;
            for (int k = 0; k <= n; ++k) {
                const double b = CoreSpln::blend(k, t, knots.data(), v);
                x += b * control[k].x, y += b * control[k].y, distance += b * control[k].distance;
            }
            Point fast;
            CoreSpln::point(knots.data(), n, t, v, control.data(), &fast);
            EXPECT_TRUE(fast.x == x && fast.y == y && fast.distance == distance) << t << " " << v;
        }
    }
}

TEST(CoreSpln, DrawLineFillsHalfOpenRangeAndIgnoresReversedEnds) {
    double grid[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    CoreSpln::drwln({1.2, 2.0, 0}, {4.6, 8.0, 0}, grid); // cells 1 .. 4 on the way to 5
    EXPECT_EQ(grid[0], -1.0);
    for (int x = 1; x < 5; ++x) EXPECT_DOUBLE_EQ(grid[x], 2.0 + (x - 1) * 6.0 / 4.0) << x;
    EXPECT_EQ(grid[5], -1.0);
    CoreSpln::drwln({5.0, 1.0, 0}, {5.4, 2.0, 0}, grid);
    CoreSpln::drwln({6.0, 1.0, 0}, {2.0, 2.0, 0}, grid);
    EXPECT_EQ(grid[5], -1.0);
    EXPECT_EQ(grid[2], 3.5);
}
