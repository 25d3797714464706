#include "foundation/listener_list.h"

#include "foundation/lock.h"

#include <algorithm>

namespace {

bool Has(const std::vector<CListener*>& set, const CListener* listener) {
    return std::find(set.begin(), set.end(), listener) != set.end();
}

} // namespace

CListenerList::CListenerList() = default;

CListenerList::~CListenerList() {
    for (CListener* listener : m_listeners)
        delete listener;
    for (CListener* listener : m_pendingAdd) {
        if (!Has(m_listeners, listener))
            delete listener;
    }
}

void CListenerList::AddListener(std::unique_ptr<CListener> owned) {
    if (!owned)
        return;
    CLock guard(m_mutex);
    CListener* listener = owned.get();
    if (m_deliveries == 0) {
        if (!Has(m_listeners, listener))
            m_listeners.push_back(listener);
        owned.release(); // the list's now (or still, when it was already in it)
        return;
    }
    // The later request wins over an earlier one for the same listener in this delivery.
    std::erase(m_pendingRemove, listener);
    if (!Has(m_pendingAdd, listener))
        m_pendingAdd.push_back(listener);
    owned.release(); // recorded: the list deletes it if it never joins the set
}

void CListenerList::RemoveListener(CListener* listener) {
    CLock guard(m_mutex);
    if (m_deliveries == 0) {
        std::erase(m_listeners, listener);
        return;
    }
    std::erase(m_pendingAdd, listener);
    if (!Has(m_pendingRemove, listener))
        m_pendingRemove.push_back(listener);
}

void CListenerList::DeleteListener(CListener* listener) {
    CLock guard(m_mutex);
    if (m_deliveries == 0) {
        auto it = std::find(m_listeners.begin(), m_listeners.end(), listener);
        if (it == m_listeners.end())
            return;
        m_listeners.erase(it);
        delete listener;
        return;
    }
    if (!Has(m_pendingDelete, listener))
        m_pendingDelete.push_back(listener);
}

bool CListenerList::IsPendingRemovalLocked(const CListener* listener) const {
    return Has(m_pendingRemove, listener) || Has(m_pendingDelete, listener);
}

void CListenerList::Fire(const CListenerEvent& event) {
    CLock guard(m_mutex);
    struct Delivery {
        CListenerList& list;
        explicit Delivery(CListenerList& l) : list(l) { ++list.m_deliveries; }
        ~Delivery() {
            if (--list.m_deliveries == 0)
                list.ApplyPendingLocked();
        }
    } delivery(*this);
    // The set does not change during a delivery, so indexing it stays valid while handlers run.
    for (size_t i = 0; i < m_listeners.size(); ++i) {
        CListener* listener = m_listeners[i];
        if (!IsPendingRemovalLocked(listener))
            listener->Handle(event);
    }
}

void CListenerList::ApplyPendingLocked() {
    std::vector<CListener*> adds, removes, deletes;
    adds.swap(m_pendingAdd);
    removes.swap(m_pendingRemove);
    deletes.swap(m_pendingDelete);
    for (CListener* listener : adds) {
        if (!Has(m_listeners, listener))
            m_listeners.push_back(listener);
    }
    for (CListener* listener : removes)
        std::erase(m_listeners, listener);
    for (CListener* listener : deletes) {
        auto it = std::find(m_listeners.begin(), m_listeners.end(), listener);
        if (it == m_listeners.end())
            continue;
        m_listeners.erase(it);
        delete listener;
    }
}

size_t CListenerList::GetCount() const {
    CLock guard(m_mutex);
    return m_listeners.size();
}

bool CListenerList::Contains(const CListener* listener) const {
    CLock guard(m_mutex);
    return Has(m_listeners, listener);
}
