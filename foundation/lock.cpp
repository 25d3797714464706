#include "foundation/lock.h"

#include "foundation/exception.h"

CLock::CLock(CLockable& lockable, double timeout) : m_lockable(lockable) {
    if (!m_lockable.Lock(timeout))
        throw CTimeoutException();
}

CLock::~CLock() {
    m_lockable.Unlock();
}
