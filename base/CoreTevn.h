// CoreTevn: an auto-reset event with a timed wait. SetEvent may be called from any thread,
// the audio thread included.
#pragma once
#include <condition_variable>
#include <mutex>

class CoreTevn {
public:
    static constexpr int iCwrsignaled = 1;
    static constexpr int iCwrnotsignaled = 0;

    // The arguments are accepted and ignored: the event is always auto-reset and starts unset.
    CoreTevn(void* attributes = nullptr, bool manualReset = false, bool initialState = false,
             const char* name = nullptr);
    ~CoreTevn();

    void SetEvent();
    void ResetEvent();
    // 1 when signalled (consuming the signal), 0 when ms passed or the wait woke without a signal.
    int WaitFor(int ms);

private:
    bool bSignalled;
    std::mutex oMutex;
    std::condition_variable oCondition;
};
