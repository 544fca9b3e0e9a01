// Shell: special folders, change notification, launching, existence test.
#pragma once
#include "platform/wintypes.h"

namespace pf {
BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create);
void SHChangeNotify(LONG eventId, UINT flags, const void* item1, const void* item2);
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info);
BOOL PathFileExistsA(const char* path);
// COM on the calling thread, as ShellExecuteExA's page asks of its callers;
// each call that succeeded (S_OK or S_FALSE) is paired with CoUninitialize.
HRESULT CoInitializeEx(DWORD flags);
void CoUninitialize();

}  // namespace pf
