#include "foundation/wait_set.h"

#include "foundation/exception.h"
#include "foundation/mutex.h"
#include "foundation/wait_handle.h"

#include <algorithm>

CWaitSet::CWaitSet(std::initializer_list<CWaitable*> members) {
    for (CWaitable* member : members)
        Add(member);
}

void CWaitSet::Add(CWaitable* member) {
    if (member == nullptr || m_members.size() >= kMaxMembers)
        return;
    auto same = [member](const Member& m) { return m.object == member; };
    if (std::any_of(m_members.begin(), m_members.end(), same))
        return;
    m_members.push_back({member, false});
}

void CWaitSet::Remove(CWaitable* member) {
    std::erase_if(m_members, [member](const Member& m) { return m.object == member; });
}

bool CWaitSet::WasSignalled(const CWaitable* member) const {
    auto same = [member](const Member& m) { return m.object == member; };
    auto it = std::find_if(m_members.begin(), m_members.end(), same);
    return it != m_members.end() && it->signalled;
}

bool CWaitSet::Wait(double timeout) {
    for (Member& member : m_members) {
        member.object->BeforeWait();
        member.signalled = false;
    }

    // The active range shrinks as members are collected; `indices` maps it back to m_members.
    std::vector<CWaitHandle*> handles;
    std::vector<size_t> indices;
    for (size_t i = 0; i < m_members.size(); ++i) {
        handles.push_back(&m_members[i].object->GetHandle());
        indices.push_back(i);
    }

    bool any = false;
    while (!handles.empty()) {
        CWaitHandle::WaitResult result = CWaitHandle::WaitAny(handles, timeout);
        if (result.result == CWaitHandle::Result::TimedOut)
            break;
        Member& member = m_members[indices[result.index]];
        if (result.result == CWaitHandle::Result::Abandoned) {
            for (Member& taken : m_members) {
                if (taken.signalled)
                    taken.object->ReleaseWait();
                taken.signalled = false;
            }
            throw CMutexAbandonedException(MakeAbandonedRelease(*member.object));
        }
        member.signalled = true;
        any = true;
        handles.erase(handles.begin() + static_cast<ptrdiff_t>(result.index));
        indices.erase(indices.begin() + static_cast<ptrdiff_t>(result.index));
        timeout = 0; // collect whatever else is signalled now, without waiting
    }

    for (Member& member : m_members)
        member.object->AfterWait(member.signalled);
    return any;
}
