#include "foundation/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace {

// The enabled set is written once by the host at start-up and read by every thread; the flag lets
// the common case (tracing off) return without taking the lock.
std::atomic<bool> g_enabled{false};
std::mutex g_lock;
std::set<std::string, std::less<>> g_categories;
bool g_all = false;

} // namespace

void SetTraceCategories(std::string_view categories) {
    std::lock_guard guard(g_lock);
    g_categories.clear();
    g_all = false;
    while (!categories.empty()) {
        size_t comma = categories.find(',');
        std::string_view name = categories.substr(0, comma);
        if (name == "all")
            g_all = true;
        else if (!name.empty())
            g_categories.emplace(name);
        categories = comma == std::string_view::npos ? std::string_view() : categories.substr(comma + 1);
    }
    g_enabled = g_all || !g_categories.empty();
}

bool IsTraceEnabled(const char* category, int /*level*/) {
    if (!g_enabled)
        return false;
    std::lock_guard guard(g_lock);
    return g_all || g_categories.count(std::string_view(category)) != 0;
}

void Trace(const char* category, int level, const char* format, ...) {
    if (!IsTraceEnabled(category, level))
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "[%s:%d] %s\n", category, level, line);
}

CTraceScope::CTraceScope(const char* category, const char* function)
    : m_category(category), m_function(function) {
    Trace(m_category, 2, "%s(): enter", m_function);
}

CTraceScope::~CTraceScope() {
    Trace(m_category, 2, "%s(): exit", m_function);
}
