// CoreSpln: the open uniform B-spline that smooths the equalisation curve, and the snapping of its
// points onto the integer cells of an FFT bin grid. Made and used inside one CoreEleq::eqcal call;
// holds only its order, so any number of threads may each use their own.
#pragma once

class CoreSpln {
public:
    // One curve point: x a bin index, y a magnitude; a distance of -1.0 marks an empty grid cell.
    struct POINT {
        double x;
        double y;
        double distance;
    };

    static constexpr int iCmaxorder = 11; // degree 10

    // order t: the curve is built from polynomials of degree t - 1 (t is kept at least 1).
    explicit CoreSpln(int order);

    int getor() const { return iOrder; }

    // The n + t + 1 knots over n + 1 control points: 0 for j < t, j - t + 1 for t <= j <= n,
    // n - t + 2 for j > n.
    void intrv(int* knots, int n) const;
    // Cox-de Boor basis value N(k, t) at v; a term whose knot difference is 0 is dropped.
    static double blend(int k, int t, const int* knots, double v);
    // out = sum over k = 0 .. n of N(k, t)(v) x control[k], for x, y and distance alike. Only the t
    // basis functions that can be non-zero at v are evaluated; the others are exactly 0.
    static void point(const int* knots, int n, int t, double v, const POINT* control, POINT* out);
    // count - 1 curve points at v = i (n - t + 2) / (count - 1), then the last control point. With
    // fewer than t control points the order drops to their number (the knots would decrease).
    void splne(int n, const POINT* control, int count, POINT* out) const;
    // Snaps p into cell: taken when the cell is empty or p is no farther from it than its holder.
    static bool calc_(const POINT* p, POINT* cell);
    static int round(double x); // nearest integer; a tie goes to the lower one
    // grid[x] for ia <= x < ib on the line from a to b (ia, ib: the rounded x of a and b).
    static void drwln(POINT a, POINT b, double* grid);
    // Snaps n points onto m cells (x = 0 .. m - 1) and fills the gaps linearly.
    static void map__(int n, const POINT* points, int m, POINT* grid);
    // Tapers both ends of the y values towards reference (CoreButl::fixbd).
    static void fixbd(POINT* points, int n, double reference, int index);

private:
    int iOrder;

    static void knots(int* out, int n, int t);
};
