// Sets TZ for the life of the object, so that a test runs in a chosen local time zone, and puts the
// earlier value back afterwards.
#pragma once

#include "tests/support/scoped_env.h"

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : m_tz("TZ", zone) { testsupport::ReloadTimeZone(); }
    ~ScopedTimeZone() {
        m_tz.Restore();
        testsupport::ReloadTimeZone();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    testsupport::ScopedEnv m_tz;
};
