// The upload reply parser on arbitrary bodies: the first byte picks where the body is split between
// two reads and whether the HTTP status is 200.
#include "upload/upload_message.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t split = data[0] % (body.size() + 1);
    UploadMessage message(UploadMessage::Kind::ImageOffset);
    message.ParseReplyBytes(body.substr(0, split));
    message.ParseReplyBytes(body.substr(split));
    message.FinishReply(data[0] & 1 ? 200 : 500, "reason");
    for (const auto& [name, value] : message.GetReplyFields())
        if (name.size() + value.size() >= UploadMessage::kMaxReplyLine)
            __builtin_trap(); // a line longer than its bound was kept
    return 0;
}
