// The lockable view of a synchronisation object: a mutex is taken, an event or a signal is waited
// for until it is set. CLock takes any of them for a scope.
#pragma once

class CLockable {
public:
    virtual ~CLockable() = default;

    // Seconds; negative waits for ever, 0 makes one attempt. True when obtained in time.
    virtual bool Lock(double timeout = -1) = 0;
    // Gives a mutex back; does nothing for an event or a signal.
    virtual void Unlock() = 0;
};
