#include "foundation/mutex.h"

#include "foundation/exception.h"
#include "foundation/thread_id.h"

#include <array>

// The portable mutex cannot fail to be created, so CMutexUnavailable is never raised here.
CMutex::CMutex() : m_handle(CWaitHandle::Kind::Mutex) {}

CMutex::~CMutex() = default;

bool CMutex::Lock(double timeout) {
    std::array<CWaitHandle*, 1> handles{&m_handle};
    switch (CWaitHandle::WaitAny(handles, timeout).result) {
    case CWaitHandle::Result::Signalled:
        return true;
    case CWaitHandle::Result::TimedOut:
        return false;
    case CWaitHandle::Result::Abandoned:
        break;
    }
    throw CMutexAbandonedException(MakeAbandonedRelease(*this));
}

void CMutex::Unlock() {
    m_handle.Release();
}

bool CMutex::IsOwnedByCurrentThread() const {
    return GetOwner() == GetCurrentThreadIdentity();
}

std::shared_ptr<void> MakeAbandonedRelease(CWaitable& waitable) {
    // The shared pointer's deleter is the release: it runs once, when the last owner goes, however
    // often the exception holding it is copied.
    return std::shared_ptr<CWaitable>(&waitable, [](CWaitable* released) { released->ReleaseWait(); });
}
