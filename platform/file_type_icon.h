// Icons of file types from the desktop's icon theme: the content type of a file guessed from its name
// (and, for a folder, from the file system), and that type's icon drawn at a given size.
//
// Threads: any thread; the icon theme is private to this layer and used under its own lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// "text/plain", "image/jpeg", "inode/directory"...; "application/octet-stream" when nothing is known.
std::string GetFileContentType(const std::string& path);

// The type's icon at size x size pixels, rows top-down, each pixel 0xAARRGGBB (alpha not
// premultiplied); `open` asks for the open form of a folder. False when the theme has no icon for it.
bool DrawFileTypeIcon(const std::string& contentType, bool open, int size, std::vector<uint32_t>& pixels);

} // namespace platform
