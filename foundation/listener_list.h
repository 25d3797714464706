// An event source with listeners: Fire hands an event to every listener in the order they were added.
// Handlers may add, remove and delete listeners of the same list, themselves included, and fire it
// again: while a delivery runs such changes are recorded and carried out when the outermost delivery
// ends, so a delivery never sees the set change under it.
//
// Ownership: the list owns its listeners. RemoveListener hands a listener back to the caller;
// DeleteListener and the list's destructor delete it.
// Threads: every method takes the list's recursive mutex, which a delivery holds throughout; a handler
// may therefore call back into the list on its own thread, while other threads wait.
#pragma once

#include "foundation/mutex.h"

#include <cstddef>
#include <memory>
#include <vector>

// The base of events given to listeners.
class CListenerEvent {
public:
    virtual ~CListenerEvent() = default;
};

class CListener {
public:
    virtual ~CListener() = default;
    virtual void Handle(const CListenerEvent& event) = 0;
};

// A listener for one event type; events of other types pass it by.
template <class Event>
class CTypedListener : public CListener {
public:
    void Handle(const CListenerEvent& event) final {
        if (const auto* typed = dynamic_cast<const Event*>(&event))
            OnEvent(*typed);
    }

protected:
    virtual void OnEvent(const Event& event) = 0;
};

class CListenerList {
public:
    CListenerList();
    // Deletes every listener still in the list. Must not run during a delivery.
    ~CListenerList();
    CListenerList(const CListenerList&) = delete;
    CListenerList& operator=(const CListenerList&) = delete;

    // Takes ownership. A listener already in the list is not added twice (the list keeps owning its
    // one copy); one handed back by RemoveListener may be added again.
    void AddListener(std::unique_ptr<CListener> listener);
    // Takes the listener out without deleting it; the caller owns it again.
    void RemoveListener(CListener* listener);
    // Takes the listener out and deletes it, when it is in the list.
    void DeleteListener(CListener* listener);

    void Fire(const CListenerEvent& event);

    size_t GetCount() const;
    bool Contains(const CListener* listener) const;

private:
    void ApplyPendingLocked();
    bool IsPendingRemovalLocked(const CListener* listener) const;

    mutable CMutex m_mutex;
    std::vector<CListener*> m_listeners; // owned, in the order added
    int m_deliveries = 0;                // nesting depth of Fire on the delivering thread
    // Requests made during a delivery, carried out when the outermost one ends.
    std::vector<CListener*> m_pendingAdd;
    std::vector<CListener*> m_pendingRemove;
    std::vector<CListener*> m_pendingDelete;
};
