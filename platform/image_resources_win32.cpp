// The module's resources from its resource section. The image is the one that holds this code, so
// that a library loaded into another program (the control in a browser) reads its own resources,
// not the program's.

#include "platform/image_resources.h"

#include "platform/narrow_text.h"

#include <windows.h>

namespace platform {
namespace {

HMODULE ThisImage() {
    static const HMODULE image = [] {
        HMODULE found = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(&ThisImage), &found))
            found = GetModuleHandleA(nullptr);
        return found;
    }();
    return image;
}

// Resource ids and types are 16-bit numbers in an image.
constexpr uint32_t kLargestId = 0xFFFF;

} // namespace

std::optional<std::span<const uint8_t>> FindImageResource(ResourceType type, uint32_t id) {
    if (id == 0 || id > kLargestId)
        return std::nullopt;
    HMODULE image = ThisImage();
    // The resources are language-neutral, which the search of the system's default languages reaches.
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(static_cast<WORD>(id)),
                                MAKEINTRESOURCEA(static_cast<uint16_t>(type)));
    if (found == nullptr)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(image, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return std::nullopt;
    // Mapped with the image: valid for as long as the module is loaded.
    return std::span<const uint8_t>(static_cast<const uint8_t*>(data), SizeofResource(image, found));
}

std::optional<std::string> LoadImageString(uint32_t id) {
    if (id > kLargestId)
        return std::nullopt;
    // With a length of 0, the call hands out the text where it lies in the image, uncounted and
    // without its NUL, instead of copying it.
    const wchar_t* text = nullptr;
    int length = LoadStringW(ThisImage(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::nullopt;
    return NarrowFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length)));
}

} // namespace platform
