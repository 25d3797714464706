#include "platform/native_event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {
namespace {

int Fd(NativeWaitHandle handle) {
    return static_cast<int>(handle);
}

} // namespace

NativeEvent::NativeEvent() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0)
        m_handle = fd;
}

NativeEvent::~NativeEvent() {
    if (IsValid())
        close(Fd(m_handle));
}

void NativeEvent::Set() {
    if (!IsValid())
        return;
    // The counter only has to be non-zero; a write fails (EAGAIN) only when it is about to overflow,
    // and then it is non-zero already.
    uint64_t one = 1;
    ssize_t written;
    do
        written = write(Fd(m_handle), &one, sizeof one);
    while (written < 0 && errno == EINTR);
}

void NativeEvent::Reset() {
    if (!IsValid())
        return;
    // Without EFD_SEMAPHORE one read takes the whole count back to zero, however many sets came.
    uint64_t count;
    ssize_t got;
    do
        got = read(Fd(m_handle), &count, sizeof count);
    while (got < 0 && errno == EINTR);
}

bool NativeEvent::IsSet() const {
    if (!IsValid())
        return false;
    pollfd entry{Fd(m_handle), POLLIN, 0};
    int ready;
    do
        ready = poll(&entry, 1, 0);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & POLLIN) != 0;
}

} // namespace platform
