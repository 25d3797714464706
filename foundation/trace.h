// Diagnostic trace. Components report what they do with a category ("http", "net", ...), a level
// (0 = the most important, 2 = the most detailed) and a printf-style text. Nothing is written unless
// the host enables categories; the host program's --trace option sends them to standard error.
#pragma once

#include "foundation/compiler.h"

#include <string_view>

// Enables a comma-separated list of categories ("all" enables every one; "" disables tracing).
void SetTraceCategories(std::string_view categories);
bool IsTraceEnabled(const char* category, int level);
void Trace(const char* category, int level, const char* format, ...) PX_PRINTF_FORMAT(3, 4);

// Marks a function's entry and exit in the trace ("%s(): enter" / "%s(): exit").
class CTraceScope {
public:
    CTraceScope(const char* category, const char* function);
    ~CTraceScope();
    CTraceScope(const CTraceScope&) = delete;
    CTraceScope& operator=(const CTraceScope&) = delete;

private:
    const char* m_category;
    const char* m_function;
};
