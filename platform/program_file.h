// The running program's own file, as the control's registration names its server.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The absolute path of the program's executable; nothing when the system does not tell.
std::optional<std::string> GetProgramFile();

} // namespace platform
