// The upload specification parser over arbitrary documents.
#include "pictures/upload_spec_parser.h"

#include <algorithm>
#include <cstring>

namespace {

class MemoryStream : public IInputStream {
public:
    MemoryStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t Read(size_t count, void* buffer) override {
        count = Peek(count, buffer);
        m_position += count;
        return count;
    }
    size_t Peek(size_t count, void* buffer) override {
        count = std::min(count, m_size - m_position);
        if (buffer != nullptr && count > 0)
            std::memcpy(buffer, m_data + m_position, count);
        return count;
    }
    void CloseInput() override {}

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryStream stream(data, size);
    PxUploadSpecParser parser(stream);
    try {
        for (const IUploadSpecImage* image : parser.Parse().GetImages())
            for (auto it = image->GetFirstProperty(); it != image->GetPropertiesEnd(); ++it)
                (void)it->second.size();
    } catch (const char*) {
    }
    return 0;
}
