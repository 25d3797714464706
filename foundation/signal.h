// A signal: a manual-reset event that stands for a condition, paired with the mutex that guards the
// condition; used like a condition variable. The waiter holds the mutex, Lock gives it up while it
// waits and takes it back before it returns; the setter changes the condition and sets the signal.
//
// Threads: Set, Reset and IsSet from any thread; Lock from a thread that holds the mutex. The mutex is
// borrowed and must outlive the signal.
#pragma once

#include "foundation/lockable.h"
#include "foundation/mutex.h"
#include "foundation/wait_handle.h"
#include "foundation/waitable.h"

class CSignal : public CLockable, public CWaitable {
public:
    explicit CSignal(CMutex& mutex);
    ~CSignal() override;
    CSignal(const CSignal&) = delete;
    CSignal& operator=(const CSignal&) = delete;

    void Set() { m_handle.Set(); }
    void Reset() { m_handle.Reset(); }
    bool IsSet() const { return m_handle.IsSet(); }

    // Waits until the signal is set, giving up the mutex (every level the caller holds) while it
    // sleeps. A set signal returns true at once without touching the mutex.
    bool Lock(double timeout = -1) override;
    void Unlock() override {}

    CMutex& GetMutex() { return m_mutex; }
    CWaitHandle& GetHandle() override { return m_handle; }

private:
    CMutex& m_mutex;
    CWaitHandle m_handle;
};
