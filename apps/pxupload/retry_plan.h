// `upload --retry N`: a picture whose failure may pass (the network failed, or the server answered
// with something other than a refusal) is tried again up to N times, after waits that double from one
// second up to a minute, each stretched or shortened by up to a fifth at random so that many clients
// cut off together do not come back together.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CRetryPlan {
public:
    static constexpr double kFirstWait = 1.0;
    static constexpr double kLongestWait = 60.0;
    static constexpr double kJitter = 0.2;

    // `random` gives numbers in [0, 1); the default draws from a generator seeded by the clock.
    explicit CRetryPlan(int retries, std::function<double()> random = {});

    // The wait before attempt `attempt` (1 for the first retry).
    double Wait(int attempt);

    // Takes a failed picture when it may be tried again and has attempts left; `wait` is then the
    // seconds until it is due and `attempt` its number.
    bool Schedule(const std::string& path, bool transient, double now, double& wait, int& attempt);
    bool IsScheduled(const std::string& path) const { return m_due.contains(path); }
    bool IsWaiting() const { return !m_due.empty(); }
    // The pictures whose wait is over, no longer scheduled.
    std::vector<std::string> TakeDue(double now);
    int GetRetries() const { return m_retries; }

private:
    const int m_retries;
    std::function<double()> m_random;
    std::map<std::string, int> m_attempts; // retries made so far, by path
    std::map<std::string, double> m_due;   // when a scheduled picture goes again
};
