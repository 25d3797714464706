// The view of a synchronisation object that a wait set uses: the kernel-object stand-in it waits on,
// and three hooks around the wait. Mutexes, events, signals and threads (finished) are waitable.
#pragma once

class CWaitHandle;

class CWaitable {
public:
    virtual ~CWaitable() = default;

    virtual CWaitHandle& GetHandle() = 0;

    // Called by CWaitSet::Wait on the waiting thread: before the wait, after it with whether this
    // object was among those signalled, and to undo an acquisition when the wait as a whole fails.
    virtual void BeforeWait() {}
    virtual void AfterWait(bool /*signalled*/) {}
    virtual void ReleaseWait() {}
};
