// The system's text for an error number, as the exceptions' texts quote it.
#pragma once

#include "platform/system_message.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

// On Linux the table is ours and words the texts as Windows does: `windowsWording` it is. On Windows
// the system's own table speaks (Wine words its texts its own way), so the text is what the system
// says, which must be there.
inline std::string SystemText([[maybe_unused]] uint32_t error, [[maybe_unused]] const char* windowsWording) {
#ifdef _WIN32
    std::string text = platform::FormatSystemMessage(error);
    EXPECT_NE(text, "") << "no system text for " << error;
    return text;
#else
    return std::string(windowsWording) + "\r\n";
#endif
}
