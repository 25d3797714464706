// Threads of the system's own: each runs a runnable's Run, has a stop event that others set to ask it
// to stop (the body polls IsStopRequested or waits on GetStopEvent in a wait set), a finished event,
// an exit code and one user pointer. Objects are reference-counted and listed in a process-wide
// registry, which also adopts threads it did not start once they start one.
//
// Threads: AddRef, Release, Join, RequestStop and the getters may be called from any thread. The
// object's mutex guards the reference count and the exit code; the registry's mutex guards the list
// links and the set of registered ids. The functions at the end act on the calling thread.
#pragma once

#include "foundation/event.h"
#include "foundation/mutex.h"
#include "foundation/runnable.h"
#include "foundation/waitable.h"

#include <cstdint>
#include <mutex>
#include <thread>

// Thrown (by ExitCurrentThread) to end the current thread's body with an exit code.
class CThreadExit {
public:
    explicit CThreadExit(uint32_t code) : m_code(code) {}
    uint32_t GetCode() const { return m_code; }

private:
    uint32_t m_code;
};

class CThreadRef;

class CThread : public CWaitable {
public:
    // Creates and starts a thread that calls runnable.Run(). The caller owns the reference returned;
    // the running thread holds another until its body ends. The runnable is borrowed and must outlive
    // the body. Raises CThreadUnavailable.
    static CThreadRef Create(CRunnable& runnable, void* userData = nullptr);
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    void AddRef();
    // The object is deleted when the last reference goes.
    void Release();

    // Waits until the body has ended (and the thread is gone). A thread never joins itself: false at
    // once.
    virtual bool Join(double timeout = -1);

    // Sets the stop event; the body decides when to look.
    void RequestStop() { m_stop.Set(); }
    bool IsStopRequested() const { return m_stop.IsSet(); }
    CEvent& GetStopEvent() { return m_stop; }

    bool IsRunning() const { return !m_finished.IsSet(); }
    uint32_t GetExitCode() const;
    uint32_t GetId() const { return m_id; }
    void* GetUserData() const { return m_userData; }

    // Waiting on a thread waits until its body has ended.
    CWaitHandle& GetHandle() override { return m_finished.GetHandle(); }

protected:
    ~CThread() override;

private:
    friend CThreadRef GetCurrentThreadObject();
    struct Adopted {};
    // Objects are only made by Create (one reference for the caller) and by adoption (the reference
    // of the adopted thread itself), so that every reference has an owner.
    CThread(CRunnable& runnable, void* userData);
    // An object for the calling thread, which the registry did not start.
    CThread(Adopted, uint32_t id);

    // The started thread's entry. Nothing unwinds out of it: an exception that escapes the body ends
    // only the thread (traced), and the thread's bookkeeping ends the same way whatever happened.
    static void Entry(CThread* self) noexcept;
    void RunBody();
    static void AdoptCurrentThreadLocked(uint32_t id);
    // The thread-exit clean-up of an adopted thread: gives its object up (the object is the context).
    static void EndAdopted(void* self);
    void RegisterLocked();
    void UnregisterLocked();
    bool AddRefIfAlive();

    uint32_t m_refCount = 1; // guarded by m_mutex
    uint32_t m_id;
    std::thread m_thread; // none for an adopted thread; joined or detached once, under m_joinLock
    std::mutex m_joinLock;
    CEvent m_finished;
    CEvent m_stop;
    CRunnable* m_runnable = nullptr;
    uint32_t m_exitCode = 0; // guarded by m_mutex
    void* m_userData = nullptr;
    mutable CMutex m_mutex;
    CThread* m_prev = nullptr; // registry list links, guarded by the registry's mutex
    CThread* m_next = nullptr;
};

// Holds one reference to a CThread and gives it up when it goes.
class CThreadRef {
public:
    CThreadRef() = default;
    ~CThreadRef() { Reset(); }
    CThreadRef(CThreadRef&& other) noexcept : m_thread(other.m_thread) { other.m_thread = nullptr; }
    CThreadRef& operator=(CThreadRef&& other) noexcept;
    CThreadRef(const CThreadRef&) = delete;
    CThreadRef& operator=(const CThreadRef&) = delete;

    void Reset();
    CThread* Get() const { return m_thread; }
    CThread* operator->() const { return m_thread; }
    explicit operator bool() const { return m_thread != nullptr; }

private:
    friend class CThread;
    friend CThreadRef GetCurrentThreadObject();
    // Takes over a reference the caller already holds.
    explicit CThreadRef(CThread* adopted) : m_thread(adopted) {}

    CThread* m_thread = nullptr;
};

// The calling thread's object with a new reference, or an empty reference when the thread was never
// registered.
CThreadRef GetCurrentThreadObject();
// Whether someone asked the calling thread to stop; false for a thread that was never registered.
bool IsStopRequested();
// The calling thread's stop event (to add to a wait set), or null for a thread never registered.
CEvent* GetStopEvent();
// The user pointer the calling thread was started with.
void* GetUserData();

// 0 normal, 1 below normal, 2 lowest, 3 or more idle; a negative level counts as 0. Returns false when
// the system refused (going back up without privileges); the thread carries on either way.
bool SetCurrentThreadPriority(int level);

// Ends the calling thread's body with the exit code (throws CThreadExit).
[[noreturn]] void ExitCurrentThread(uint32_t code);

// Sleeps when seconds > 0; returns at once otherwise.
void SleepSeconds(double seconds);
// Gives up the rest of the time slice.
void YieldThread();
