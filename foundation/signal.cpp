#include "foundation/signal.h"

#include <array>
#include <chrono>

// The portable event cannot fail to be created, so CSignalUnavailable is never raised here.
CSignal::CSignal(CMutex& mutex) : m_mutex(mutex), m_handle(CWaitHandle::Kind::Event) {}

CSignal::~CSignal() = default;

bool CSignal::Lock(double timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::array<CWaitHandle*, 1> handles{&m_handle};
    for (;;) {
        if (IsSet())
            return true;
        double remaining = -1;
        bool lastAttempt = false;
        if (timeout >= 0) {
            remaining = timeout - std::chrono::duration<double>(Clock::now() - start).count();
            if (remaining < 0)
                return false;
            // Waits count whole milliseconds; what is left below one is spent in this last wait of 0 ms
            // rather than in a spin of such waits.
            lastAttempt = remaining < 0.001;
        }
        // Every level is given up, not just one: a waiter holding the mutex twice would otherwise
        // keep the setter out until the time-out.
        uint32_t levels = m_mutex.IsOwnedByCurrentThread() ? m_mutex.GetCount() : 0;
        for (uint32_t i = 0; i < levels; ++i)
            m_mutex.Unlock();
        CWaitHandle::WaitAny(handles, remaining);
        for (uint32_t i = 0; i < levels; ++i)
            m_mutex.Lock(-1);
        if (lastAttempt)
            return IsSet();
    }
}
