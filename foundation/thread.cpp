#include "foundation/thread.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/thread_id.h"
#include "foundation/trace.h"
#include "foundation/wait_handle.h"
#include "platform/thread_exit.h"
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
static_assert(platform::kThreadLocalSafe<decltype(t_current)>);

// Reports an exception that a body let out. The trace formats and allocates, and must not throw in
// turn from the thread's entry.
void TraceUncaught(uint32_t id, const char* code) noexcept {
    try {
        if (code != nullptr)
            Trace("thread", 0, "thread %u: uncaught exception %s", id, code);
        else
            Trace("thread", 0, "thread %u: uncaught exception", id);
    } catch (...) {
    }
}

} // namespace

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
    // The adopted thread's own reference, given up by its clean-up when it ends.
    auto* adopted = new CThread(Adopted{}, id);
    try {
        platform::AtThreadExit(&CThread::EndAdopted, adopted);
    } catch (...) {
        delete adopted;
        throw;
    }
    adopted->RegisterLocked();
    t_current = adopted;
}

void CThread::EndAdopted(void* context) {
    auto* adopted = static_cast<CThread*>(context);
    // As at the end of a started thread's body: mutexes still held are given up before anyone can
    // see the thread as finished. (A Windows thread started by std::thread has lost its thread_local
    // values by now; its list's own clean-up, which runs next, gives them up then.)
    CWaitHandle::AbandonHeldByCurrentThread();
    if (t_current == adopted)
        t_current = nullptr;
    adopted->m_finished.Set();
    adopted->Release();
}

void CThread::RunBody() {
    m_mutex.Lock();
    m_mutex.Unlock();
    SetCurrentThreadPriority(1);
    try {
        m_runnable->Run();
    } catch (const CThreadExit& exit) {
        CLock guard(m_mutex);
        m_exitCode = exit.GetCode();
    } catch (const CException& e) {
        // A body must not let these out; ending the thread quietly beats ending the process, and
        // nothing may unwind into the system's thread start (with DWARF unwinding on Windows that
        // would be a crash rather than the end of the process).
        TraceUncaught(m_id, e.GetCode());
    } catch (...) {
        TraceUncaught(m_id, nullptr);
    }
}

void CThread::Entry(CThread* self) noexcept {
    AssignCurrentThreadId(self->m_id);
    t_current = self;
    try {
        self->RunBody();
    } catch (...) {
        // Only the bookkeeping around the body gets here (its mutex, storing the exit code).
        TraceUncaught(self->m_id, nullptr);
    }
    // Mutexes still held are given up before anyone can see the thread as finished.
    try {
        CWaitHandle::AbandonHeldByCurrentThread();
    } catch (...) {
    }
    t_current = nullptr;
    try {
        self->m_finished.Set();
        self->Release();
    } catch (...) {
    }
    // The thread's own clean-ups (its caches, its list of held mutexes) run while all it keeps is
    // intact, rather than in the system's hook, which on Windows comes after the toolchain's
    // thread-local storage has gone.
    platform::RunThreadExitCleanups();
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
