// A name of our own on the user's session bus, with one object that answers one method returning a
// 32-bit integer: how other programs on the desktop ask the control a question, as a page's script
// asks the control object.
//
// Threads: made, used and destroyed on the user-interface thread. Calls of the method are answered
// on that thread, from its main loop (the pump's native wait), so the method may read what the
// user-interface thread owns; it must answer at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct SessionBusObject {
    std::string busName;       // the well-known name asked for
    std::string objectPath;    // the object that serves the method
    std::string interfaceName; // the interface the method belongs to
    std::string methodName;    // no arguments; one "i" back
};

class SessionBusService {
public:
    using IntMethod = std::function<int32_t()>;

    virtual ~SessionBusService() = default;

    // Connects to the session bus, serves the object and takes the name, waiting for the bus's answer.
    // Null when any of it fails; `error` then says why (no bus, the name owned by another program).
    static std::unique_ptr<SessionBusService> Start(const SessionBusObject& object, IntMethod method,
                                                    std::string& error);
};

} // namespace platform
