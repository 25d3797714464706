// Small things the end-to-end tests share: picture bytes that differ from test to test, a wait for
// a condition with a deadline, and the reference server's counters.
#pragma once

#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>

namespace e2e {

// `size` bytes from a generator seeded with `seed`: a picture's content, the same in every run.
inline std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

inline double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Polls `condition` until it holds or `seconds` have passed; true when it held.
inline bool WaitFor(const std::function<bool()>& condition, double seconds = 10.0) {
    for (double deadline = Seconds() + seconds;;) {
        if (condition())
            return true;
        if (Seconds() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The server's /_state.
inline refserver::Json State(const RefServer& server) {
    return refserver::Json::Parse(refserver::ControlExchange(server.Port(), "GET", "/_state"));
}

// Requests the server has seen for one servlet.
inline int64_t Requests(const refserver::Json& state, const char* servlet) {
    const refserver::Json& count = state["requests"][servlet];
    return count.IsNull() ? 0 : count.AsInt();
}

} // namespace e2e
