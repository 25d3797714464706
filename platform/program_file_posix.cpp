#include "platform/program_file.h"

#include "platform/file_system.h"

namespace platform {

std::optional<std::string> GetProgramFile() {
    return ResolveLinks("/proc/self/exe");
}

} // namespace platform
