#include "apps/pxupload/retry_plan.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>

CRetryPlan::CRetryPlan(int retries, std::function<double()> random)
    : m_retries(std::max(retries, 0)), m_random(std::move(random)) {
    if (!m_random) {
        auto engine = std::make_shared<std::mt19937>(
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
        m_random = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
    }
}

double CRetryPlan::Wait(int attempt) {
    double base = kFirstWait * std::pow(2.0, std::clamp(attempt, 1, 30) - 1);
    base = std::min(base, kLongestWait);
    double stretched = base * (1.0 - kJitter + 2.0 * kJitter * m_random());
    return std::min(stretched, kLongestWait);
}

bool CRetryPlan::Schedule(const std::string& path, bool transient, double now, double& wait, int& attempt) {
    if (!transient || m_due.contains(path))
        return false;
    int& made = m_attempts[path];
    if (made >= m_retries)
        return false;
    attempt = ++made;
    wait = Wait(attempt);
    m_due[path] = now + wait;
    return true;
}

std::vector<std::string> CRetryPlan::TakeDue(double now) {
    std::vector<std::string> due;
    for (auto it = m_due.begin(); it != m_due.end();) {
        if (it->second <= now) {
            due.push_back(it->first);
            it = m_due.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}
