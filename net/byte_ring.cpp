#include "net/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kFirstCapacity = 4096;

} // namespace

void CByteRing::Append(const char* data, size_t count) {
    m_claim = 0; // the bytes go where its run was
    if (count == 0)
        return;
    if (m_capacity - m_size < count)
        Grow(m_size + count);
    size_t tail = (m_head + m_size) & (m_capacity - 1);
    size_t first = std::min(count, m_capacity - tail);
    std::memcpy(m_data.get() + tail, data, first);
    std::memcpy(m_data.get(), data + first, count - first);
    m_size += count;
}

size_t CByteRing::Copy(size_t count, char* buffer) const {
    Runs runs = Front(count);
    if (runs.firstSize > 0)
        std::memcpy(buffer, runs.first, runs.firstSize);
    if (runs.secondSize > 0)
        std::memcpy(buffer + runs.firstSize, runs.second, runs.secondSize);
    return runs.firstSize + runs.secondSize;
}

CByteRing::Runs CByteRing::Front(size_t count) const {
    count = std::min(count, m_size);
    Runs runs;
    if (count == 0)
        return runs;
    runs.first = m_data.get() + m_head;
    runs.firstSize = std::min(count, m_capacity - m_head);
    runs.second = m_data.get();
    runs.secondSize = count - runs.firstSize;
    return runs;
}

void CByteRing::Consume(size_t count) {
    count = std::min(count, m_size);
    m_size -= count;
    // An empty ring starts again at the front, so that the next runs are contiguous; not under an
    // open claim, whose run must stay right after the last byte.
    m_head = m_size == 0 && m_claim == 0 ? 0 : (m_head + count) & (m_capacity - 1);
}

CByteRing::Space CByteRing::Claim(size_t count) {
    m_claim = 0;
    if (count == 0)
        return {};
    if (m_capacity - m_size < count)
        Grow(m_size + count);
    size_t tail = (m_head + m_size) & (m_capacity - 1);
    m_claim = std::min(count, m_capacity - tail);
    return {m_data.get() + tail, m_claim};
}

bool CByteRing::Commit(size_t count) {
    if (m_claim == 0)
        return false;
    m_size += std::min(count, m_claim);
    m_claim = 0;
    return true;
}

void CByteRing::Grow(size_t needed) {
    size_t capacity = std::max(m_capacity, kFirstCapacity);
    while (capacity < needed)
        capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    Copy(m_size, data.get());
    m_data = std::move(data);
    m_capacity = capacity;
    m_head = 0;
    m_claim = 0; // its run has moved
}
