// Opens a web address in the user's browser, without waiting for it.
#pragma once

#include <string>

namespace platform {

// False when the address is empty, looks like an option, or no opener could be started.
bool OpenURL(const std::string& url);

} // namespace platform
