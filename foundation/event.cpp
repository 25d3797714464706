#include "foundation/event.h"

#include <array>

CEvent::CEvent(bool initiallySet) : m_handle(CWaitHandle::Kind::Event, initiallySet) {}

CEvent::~CEvent() = default;

bool CEvent::Lock(double timeout) {
    std::array<CWaitHandle*, 1> handles{&m_handle};
    return CWaitHandle::WaitAny(handles, timeout).result == CWaitHandle::Result::Signalled;
}
