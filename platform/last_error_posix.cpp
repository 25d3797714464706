#include "platform/last_error.h"

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;
thread_local int32_t t_lastSocketError = 0;

} // namespace

uint32_t GetLastError() {
    return t_lastError;
}
void SetLastError(uint32_t error) {
    t_lastError = error;
}

int32_t GetLastSocketError() {
    return t_lastSocketError;
}
void SetLastSocketError(int32_t error) {
    t_lastSocketError = error;
}

} // namespace platform
