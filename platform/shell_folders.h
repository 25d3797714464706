// The shell namespace as the picture browser walks it. Here the namespace is the file system: the
// special folders are the user's XDG directories and "/", display names and icons come from the
// desktop's file information and icon theme.
//
// Threads: the UI thread (display names and icons read the file system and the theme synchronously).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class SpecialFolder { MyPictures, MyDocuments, MyComputer, Desktop };

// The folder's path; nothing when the user has no such folder or it does not exist.
std::optional<std::string> GetSpecialFolderPath(SpecialFolder folder);

// The value of `key` ("XDG_PICTURES_DIR") in the text of a user-dirs.dirs file: a quoted path that
// is absolute or starts with "$HOME", which stands for `home`. Nothing when the key is missing or its
// value has another form.
std::optional<std::string> ParseUserDirsValue(std::string_view text, std::string_view key,
                                              const std::string& home);

// What the user sees as the item's name; the file name when the file system has nothing better.
std::string GetShellDisplayName(const std::string& path);

// Whether the path names a folder, a symbolic link to one included.
bool IsShellFolder(const std::string& path);

// The item's icon from the icon theme at size x size pixels, rows top-down, 0xAARRGGBB (alpha not
// premultiplied). False when the theme has none.
bool DrawShellIcon(const std::string& path, int size, std::vector<uint32_t>& pixels);

// The theme's icon of that name ("document-open-recent"), as DrawShellIcon draws.
bool DrawNamedIcon(const std::string& iconName, int size, std::vector<uint32_t>& pixels);

// Horizontal logical pixels per inch of the screen (96 when no screen is known).
int GetScreenLogicalDpi();

} // namespace platform
