// Shell: special folders, change notification, launching, existence test.
#pragma once
#include "platform/wintypes.h"

namespace pf {
BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create);
void SHChangeNotify(LONG eventId, UINT flags, const void* item1, const void* item2);
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info);
BOOL PathFileExistsA(const char* path);
}  // namespace pf
