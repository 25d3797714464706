// Waits for the first of several waitables (mutexes, events, signals, threads) and then collects every
// other member that is signalled at that moment, so that one wake-up reports all that happened.
// Mutexes among the signalled members are then owned by the caller.
//
// Threads: a wait set belongs to the thread that waits on it; its members are borrowed and must
// outlive it.
#pragma once

#include "foundation/waitable.h"

#include <cstddef>
#include <initializer_list>
#include <vector>

class CWaitSet {
public:
    // At most this many members; the system's multi-object wait has the same bound.
    static constexpr size_t kMaxMembers = 64;

    CWaitSet() = default;
    // Null entries are skipped, so that GetStopEvent() of a thread that was never registered can be
    // listed as it is.
    CWaitSet(std::initializer_list<CWaitable*> members);

    // Adds a member; a null, a member already present and a member beyond kMaxMembers are ignored.
    void Add(CWaitable* member);
    void Remove(CWaitable* member);
    size_t GetCount() const { return m_members.size(); }

    // True when at least one member was signalled within the time-out (seconds; negative waits for
    // ever, 0 makes one attempt). Raises CMutexAbandonedException when a member mutex was abandoned:
    // members taken by this wait are released first, and the caller owns the abandoned mutex until
    // the exception's last copy goes.
    bool Wait(double timeout = -1);

    // Whether the member was signalled in the last wait.
    bool WasSignalled(const CWaitable* member) const;

private:
    struct Member {
        CWaitable* object;
        bool signalled;
    };

    std::vector<Member> m_members;
};
