// A recursive mutex with a time-out. The owning thread may lock it again and must unlock it as often.
// When its owner thread ends while holding it, the next thread to obtain it gets it together with a
// CMutexAbandonedException, whose last copy gives it back.
//
// Threads: any thread may lock; only the owner unlocks (an unlock by another thread does nothing).
// Owner and count live in the handle under its own lock.
#pragma once

#include "foundation/lockable.h"
#include "foundation/wait_handle.h"
#include "foundation/waitable.h"

#include <cstdint>
#include <memory>

class CMutex : public CLockable, public CWaitable {
public:
    CMutex();
    ~CMutex() override;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    // Raises CMutexAbandonedException when the previous owner ended while holding it; the caller then
    // owns it until the exception's last copy is destroyed.
    bool Lock(double timeout = -1) override;
    void Unlock() override;

    // The owning thread's identity (0 when free) and the recursion count.
    uint32_t GetOwner() const { return m_handle.GetOwner(); }
    uint32_t GetCount() const { return m_handle.GetCount(); }
    bool IsOwnedByCurrentThread() const;

    CWaitHandle& GetHandle() override { return m_handle; }
    void ReleaseWait() override { Unlock(); }

private:
    CWaitHandle m_handle;
};

// The release that a CMutexAbandonedException holds for a waitable the caller obtained: running it
// (when the last copy of the exception goes) calls the waitable's release hook once.
std::shared_ptr<void> MakeAbandonedRelease(CWaitable& waitable);
