// CoreTthr: the thread base class. Subclasses override Execute (and Terminate, forwarding to the
// base), construct suspended and call Resume at the end of their own constructor. The owner ends a
// thread with Terminate, its own wake-up, then WaitFor; the destructor joins and never cancels, so
// an object must not be deleted from its own thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CoreTthr {
public:
    explicit CoreTthr(bool createSuspended);
    virtual ~CoreTthr();
    CoreTthr(const CoreTthr&) = delete;
    CoreTthr& operator=(const CoreTthr&) = delete;

    void Resume(); // creates the thread once; later calls do nothing. When creation fails the work
                   // counts as finished, so WaitFor still returns
    virtual int start();
    virtual void Terminate();
    virtual void Execute();
    void exepr();   // applies the level chosen by priority index when the levels are known
    void WaitFor(); // blocks until the thread's work has ended (at once when it never started)

    // The five priority levels for a policy's priority range.
    static void levels(int minimum, int maximum, int32_t out[5]);

    bool Terminated() const { return bTerminated.load(); }
    bool Finished();

protected:
    std::atomic<bool> bTerminated;
    int32_t iPriorityIndex;
    bool bSuspended;
    bool bLevelsKnown;
    int32_t iLevels[5];
    int32_t iPolicy;

private:
    static void ptsta(CoreTthr* self);
    void markFinished();

    std::thread oThread;
    std::mutex oMutex;
    std::condition_variable oCondition;
    bool bFinished;
    bool bCreated;
};
