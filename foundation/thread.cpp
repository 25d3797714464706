#include "foundation/thread.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/thread_id.h"
#include "foundation/trace.h"
#include "foundation/wait_handle.h"
#include "platform/thread_priority.h"

#include <chrono>
#include <set>
#include <system_error>

namespace {

// The process-wide registry. Created on first use by a thread-safe static and never destroyed, so
// that threads still ending while the process exits find it intact.
struct ThreadRegistry {
    CMutex mutex;
    std::set<uint32_t> ids;  // guarded by mutex
    CThread* head = nullptr; // newest first; guarded by mutex
};

ThreadRegistry& Registry() {
    static ThreadRegistry* registry = new ThreadRegistry;
    return *registry;
}

// The calling thread's object: set by the body entry (or adoption) and cleared when the body ends.
// The thread's own reference keeps it alive meanwhile.
thread_local CThread* t_current = nullptr;

} // namespace

// Gives an adopted thread's object up when that thread ends.
struct CThread::AdoptionGuard {
    CThread* adopted = nullptr;
    ~AdoptionGuard() {
        if (adopted == nullptr)
            return;
        if (t_current == adopted)
            t_current = nullptr;
        adopted->m_finished.Set();
        adopted->Release();
    }
};

CThreadRef CThread::Create(CRunnable& runnable, void* userData) {
    return CThreadRef(new CThread(runnable, userData));
}

CThread::CThread(CRunnable& runnable, void* userData)
    : m_id(AllocateThreadId()), m_runnable(&runnable), m_userData(userData) {
    // The new thread waits for this lock before it runs the body, so it starts only once it is
    // registered.
    CLock own(m_mutex);
    ThreadRegistry& registry = Registry();
    {
        CLock listed(registry.mutex);
        uint32_t creator = GetCurrentThreadIdentity();
        if (!registry.ids.contains(creator))
            AdoptCurrentThreadLocked(creator);
        RegisterLocked();
    }
    ++m_refCount; // the running thread's
    try {
        m_thread = std::thread(&CThread::Entry, this);
    } catch (const std::system_error&) {
        CLock listed(registry.mutex);
        UnregisterLocked();
        throw CThreadUnavailable();
    }
}

CThread::CThread(Adopted, uint32_t id) : m_id(id) {}

CThread::~CThread() {
    {
        ThreadRegistry& registry = Registry();
        CLock listed(registry.mutex);
        UnregisterLocked();
    }
    std::lock_guard join(m_joinLock);
    if (!m_thread.joinable())
        return;
    // The last reference may be the running thread's own, dropped as its body's last act.
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}

void CThread::RegisterLocked() {
    ThreadRegistry& registry = Registry();
    registry.ids.insert(m_id);
    m_next = registry.head;
    if (m_next != nullptr)
        m_next->m_prev = this;
    registry.head = this;
}

void CThread::UnregisterLocked() {
    ThreadRegistry& registry = Registry();
    if (m_prev != nullptr)
        m_prev->m_next = m_next;
    else if (registry.head == this)
        registry.head = m_next;
    if (m_next != nullptr)
        m_next->m_prev = m_prev;
    m_prev = m_next = nullptr;
    registry.ids.erase(m_id);
}

void CThread::AdoptCurrentThreadLocked(uint32_t id) {
    static thread_local AdoptionGuard guard;
    auto* adopted = new CThread(Adopted{}, id);
    adopted->RegisterLocked();
    guard.adopted = adopted;
    t_current = adopted;
}

void CThread::Entry(CThread* self) {
    AssignCurrentThreadId(self->m_id);
    t_current = self;
    self->m_mutex.Lock();
    self->m_mutex.Unlock();
    SetCurrentThreadPriority(1);
    try {
        self->m_runnable->Run();
    } catch (const CThreadExit& exit) {
        CLock guard(self->m_mutex);
        self->m_exitCode = exit.GetCode();
    } catch (const CException& e) {
        // A body must not let these out; ending the thread quietly beats ending the process.
        Trace("thread", 0, "thread %u: uncaught exception %s", self->m_id, e.GetCode());
    } catch (...) {
        Trace("thread", 0, "thread %u: uncaught exception", self->m_id);
    }
    // Mutexes still held are given up before anyone can see the thread as finished.
    CWaitHandle::AbandonHeldByCurrentThread();
    t_current = nullptr;
    self->m_finished.Set();
    self->Release();
}

void CThread::AddRef() {
    CLock guard(m_mutex);
    ++m_refCount;
}

bool CThread::AddRefIfAlive() {
    CLock guard(m_mutex);
    if (m_refCount == 0)
        return false;
    ++m_refCount;
    return true;
}

void CThread::Release() {
    uint32_t left;
    {
        CLock guard(m_mutex);
        left = --m_refCount;
    }
    if (left == 0)
        delete this;
}

bool CThread::Join(double timeout) {
    if (GetCurrentThreadIdentity() == m_id)
        return false;
    if (!m_finished.Lock(timeout))
        return false;
    std::lock_guard join(m_joinLock);
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

uint32_t CThread::GetExitCode() const {
    CLock guard(m_mutex);
    return m_exitCode;
}

CThreadRef& CThreadRef::operator=(CThreadRef&& other) noexcept {
    if (this != &other) {
        Reset();
        m_thread = other.m_thread;
        other.m_thread = nullptr;
    }
    return *this;
}

void CThreadRef::Reset() {
    if (m_thread != nullptr)
        m_thread->Release();
    m_thread = nullptr;
}

CThreadRef GetCurrentThreadObject() {
    uint32_t self = GetCurrentThreadIdentity();
    ThreadRegistry& registry = Registry();
    CLock listed(registry.mutex);
    for (CThread* thread = registry.head; thread != nullptr; thread = thread->m_next) {
        if (thread->m_id == self && thread->AddRefIfAlive())
            return CThreadRef(thread);
    }
    return CThreadRef();
}

bool IsStopRequested() {
    return t_current != nullptr && t_current->IsStopRequested();
}

CEvent* GetStopEvent() {
    return t_current != nullptr ? &t_current->GetStopEvent() : nullptr;
}

void* GetUserData() {
    return t_current != nullptr ? t_current->GetUserData() : nullptr;
}

bool SetCurrentThreadPriority(int level) {
    using platform::ThreadPriority;
    ThreadPriority priority = ThreadPriority::Normal;
    if (level == 1)
        priority = ThreadPriority::BelowNormal;
    else if (level == 2)
        priority = ThreadPriority::Lowest;
    else if (level >= 3)
        priority = ThreadPriority::Idle;
    return platform::SetCurrentThreadPriority(priority);
}

void ExitCurrentThread(uint32_t code) {
    throw CThreadExit(code);
}

void SleepSeconds(double seconds) {
    if (!(seconds > 0))
        return;
    int64_t ms = CWaitHandle::ToMilliseconds(seconds);
    if (ms == 0) {
        YieldThread();
        return;
    }
    if (ms < 0) {
        // Too long to count: as good as for ever.
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void YieldThread() {
    std::this_thread::yield();
}
