// CoreDnrm: a scope guard that switches the calling thread to flush-to-zero and denormals-are-zero,
// so that decaying tails never fall into slow subnormal arithmetic, and restores the thread's
// previous modes when it ends. The processor scopes one to each block it processes, on the thread
// that processes it; a guard must end on the thread that made it.
#pragma once

class CoreDnrm {
public:
    // Rounding arguments accepted by the constructor; they have no effect.
    enum iCrounding { iCnearest = 0 };

    explicit CoreDnrm(iCrounding rounding = iCnearest);
    ~CoreDnrm();
    CoreDnrm(const CoreDnrm&) = delete;
    CoreDnrm& operator=(const CoreDnrm&) = delete;

private:
    bool bFlushToZero; // the thread's modes before the guard
    bool bDenormalsAreZero;
};
