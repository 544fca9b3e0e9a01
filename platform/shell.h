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
// The program registered for a protocol or file type (ASSOCSTR_EXECUTABLE, 2):
// S_OK with its path in out, an error where none is registered, E_POINTER
// where the path does not fit (ASSOCF_NOTRUNCATE, 0x20). ASSOCF_IS_PROTOCOL
// (0x1000, Windows 8 on) reads the user's choice rather than the class key.
constexpr DWORD kAssocNoTruncate = 0x20, kAssocIsProtocol = 0x1000;
HRESULT AssocQueryExecutable(DWORD flags, const char* assoc, char* out, DWORD* outSize);

}  // namespace pf
