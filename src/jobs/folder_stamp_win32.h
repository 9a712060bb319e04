#pragma once

#include <string>

#include <windows.h>

#include "folder_stamp.h"
#include "handles_win32.h"

namespace quorvil {

// The folder itself, a link in its place not followed; null when it cannot be opened.
[[nodiscard]] UniqueHandle OpenFolder(const std::string& path, DWORD access);

// The stamp of an open folder; none (exists false) when it is no folder or a link.
[[nodiscard]] FolderStamp StampOfOpen(HANDLE folder);

} // namespace quorvil
