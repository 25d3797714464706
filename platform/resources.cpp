#include "platform/resources.h"

#include "platform/image_resources.h"

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::atomic<const ResourceModule*> g_module{nullptr};

} // namespace

void SetResourceModule(const ResourceModule* module) {
    g_module = module;
}

const ResourceModule* GetResourceModule() {
    return g_module;
}

std::optional<std::span<const uint8_t>> FindModuleResource(ResourceType type, uint32_t id) {
    const ResourceModule* module = g_module;
    if (module == nullptr)
        return std::nullopt;
    if (module->inImage)
        return FindImageResource(type, id);
    auto key = [](const ResourceBlock& block) { return std::pair(block.type, block.id); };
    auto it =
        std::lower_bound(module->blocks.begin(), module->blocks.end(), std::pair(type, id),
                         [&](const ResourceBlock& block, const auto& wanted) { return key(block) < wanted; });
    if (it == module->blocks.end() || it->type != type || it->id != id)
        return std::nullopt;
    return std::span<const uint8_t>(it->data, it->size);
}

std::optional<std::string> LoadStringResource(uint32_t id) {
    const ResourceModule* module = g_module;
    if (module == nullptr)
        return std::nullopt;
    if (module->inImage)
        return LoadImageString(id);
    auto it =
        std::lower_bound(module->strings.begin(), module->strings.end(), id,
                         [](const ResourceString& entry, uint32_t wanted) { return entry.id < wanted; });
    if (it == module->strings.end() || it->id != id)
        return std::nullopt;
    return std::string(it->text);
}

std::string LoadText(uint32_t id) {
    return LoadStringResource(id).value_or("");
}

} // namespace platform
