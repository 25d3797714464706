#include "net/rate_limit.h"

#include <cmath>
#include <cstdlib>

void CRateLimit::SetBytesPerSecond(uint64_t rate) {
    std::lock_guard lock(m_lock);
    m_rate = rate;
    m_next = Clock::time_point{};
}

uint64_t CRateLimit::GetBytesPerSecond() const {
    std::lock_guard lock(m_lock);
    return m_rate;
}

double CRateLimit::Delay() {
    std::lock_guard lock(m_lock);
    if (m_rate == 0)
        return 0;
    Clock::time_point now = Clock::now();
    return m_next > now ? std::chrono::duration<double>(m_next - now).count() : 0;
}

void CRateLimit::Spend(uint64_t bytes) {
    std::lock_guard lock(m_lock);
    if (m_rate == 0 || bytes == 0)
        return;
    Clock::time_point now = Clock::now();
    auto burst = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBurstSeconds));
    if (m_next < now - burst)
        m_next = now - burst;
    m_next += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(m_rate)));
}

std::optional<uint64_t> CRateLimit::ParseRate(const std::string& text) {
    if (text.empty() || text.size() > 32)
        return std::nullopt;
    size_t digits = text.find_first_not_of("0123456789.");
    std::string number = text.substr(0, digits);
    std::string unit = digits == std::string::npos ? "" : text.substr(digits);
    if (number.empty() || number.front() == '.' || number.find('.') != number.rfind('.'))
        return std::nullopt;
    double scale = 1;
    if (unit == "K" || unit == "k")
        scale = 1024;
    else if (unit == "M" || unit == "m")
        scale = 1024.0 * 1024;
    else if (unit == "G" || unit == "g")
        scale = 1024.0 * 1024 * 1024;
    else if (!unit.empty())
        return std::nullopt;
    double value = std::strtod(number.c_str(), nullptr) * scale;
    if (!(value >= 1) || value > 1e15)
        return std::nullopt;
    return static_cast<uint64_t>(std::llround(value));
}
