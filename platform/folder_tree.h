// The folder chooser of the picture browser: a tree of the file system's folders in a popup, opened
// at the current folder and expanded lazily as the user opens branches. Hidden folders are left out.
//
// Threads: the UI thread only.
#pragma once

#include "platform/native_handles.h"
#include "ui/geometry.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The sub-folders of `folder`, by name in byte order, dot folders left out and links to folders
// counted; empty when it cannot be listed.
std::vector<std::string> ListSubFolders(const std::string& folder);

// The folders from "/" down to `folder` ("/", "/home", "/home/u"); just "/" for a relative path.
std::vector<std::string> GetFolderChain(const std::string& folder);

// Shows the tree at a screen point, `size` pixels large, owned by the top-level window of `owner`,
// and runs until a folder is chosen (a click on it, or Enter) or the popup is dismissed (Escape, a
// press outside it). The chosen folder's path, or nothing.
std::optional<std::string> RunFolderTreePopup(NativeWindow owner, CUIPoint screen, CUISize size,
                                              const std::string& startFolder);

} // namespace platform
