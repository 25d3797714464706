// A cap on the bytes per second that several connections send together: each connection asks how
// long to wait before its next piece and tells what it sent. The allowance builds up for at most a
// tenth of a second while nobody sends, so that a pause is not followed by a burst.
//
// Threads: any; m_lock guards the rate and the schedule.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

class CRateLimit {
public:
    static constexpr double kBurstSeconds = 0.1;

    // 0: no cap.
    void SetBytesPerSecond(uint64_t rate);
    uint64_t GetBytesPerSecond() const;
    // Seconds until more may be sent; 0 when now.
    double Delay();
    void Spend(uint64_t bytes);

    // "200K", "2M", "1.5M", "300000": bytes per second with an optional K, M or G (powers of 1024);
    // nothing for a text that is none of these or is 0.
    static std::optional<uint64_t> ParseRate(const std::string& text);

private:
    using Clock = std::chrono::steady_clock;

    mutable std::mutex m_lock;
    uint64_t m_rate = 0;
    Clock::time_point m_next{}; // when the bytes spent so far have been paid for
};
