// A manual-reset event: once set it stays set, releasing every waiter, until it is reset.
//
// Threads: every method may be called from any thread.
#pragma once

#include "foundation/lockable.h"
#include "foundation/wait_handle.h"
#include "foundation/waitable.h"

class CEvent : public CLockable, public CWaitable {
public:
    explicit CEvent(bool initiallySet = false);
    ~CEvent() override;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set() { m_handle.Set(); }
    void Reset() { m_handle.Reset(); }
    bool IsSet() const { return m_handle.IsSet(); }
    // For native waits beside the portable ones: readable while the event is set (see CWaitHandle).
    platform::NativeWaitHandle GetNativeWaitHandle() { return m_handle.GetNativeWaitHandle(); }

    // Waits until the event is set; true when it was set in time.
    bool Lock(double timeout = -1) override;
    void Unlock() override {}

    CWaitHandle& GetHandle() override { return m_handle; }

private:
    CWaitHandle m_handle;
};
