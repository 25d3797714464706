#include "net/http_memory_input.h"

#include <algorithm>

void CHTTPMemoryInput::Arrive(std::string_view bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

size_t CHTTPMemoryInput::Peek(size_t count, void* buffer) {
    size_t n = std::min(count, m_bytes.size());
    if (buffer != nullptr)
        std::copy_n(m_bytes.begin(), n, static_cast<char*>(buffer));
    return n;
}

size_t CHTTPMemoryInput::Read(size_t count, void* buffer) {
    size_t n = Peek(count, buffer);
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}
