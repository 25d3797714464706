// The module's resources: typed, numbered blocks of bytes (message tables, dialogs, bitmaps...) and
// the string table. The host installs the module whose resources the program uses, as a Windows
// module handle would name them; until then every look-up finds nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Resource types by their Win32 numbers.
enum class ResourceType : uint16_t {
    Bitmap = 2,
    Menu = 4,
    Dialog = 5,
    RcData = 10,
    Version = 16,
};

struct ResourceBlock {
    ResourceType type;
    uint32_t id;
    const uint8_t* data;
    size_t size;
};

struct ResourceString {
    uint32_t id;
    const char* text;
};

// One module's resources, sorted by (type, id) and by id respectively. The tables are static data.
// A module whose resources are in the program's image (a Windows module's resource section) has
// empty tables and inImage set: its look-ups ask the system, which finds them in the image that
// holds this code, the program or the library it is linked into.
struct ResourceModule {
    const char* name;
    std::span<const ResourceBlock> blocks;
    std::span<const ResourceString> strings;
    bool inImage = false;
};

// Installs the module that the look-ups below read (null uninstalls it). Done once by the host at
// start-up, before other threads exist.
void SetResourceModule(const ResourceModule* module);
const ResourceModule* GetResourceModule();

// Finds, loads and locks a resource in one step (neutral language); nothing when the module has none.
std::optional<std::span<const uint8_t>> FindModuleResource(ResourceType type, uint32_t id);

// A string-table text, or nothing when the module has no string with that id.
std::optional<std::string> LoadStringResource(uint32_t id);
// The same, with "" for a missing string: for the texts a window shows, which a built module has.
std::string LoadText(uint32_t id);

} // namespace platform
