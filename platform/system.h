// System facts: language, version, directories, own module; and the clock.
#pragma once
#include "platform/wintypes.h"

namespace pf {
LANGID GetSystemDefaultLangID();
BOOL GetVersionExA(OSVERSIONINFOA* info);
UINT GetSystemDirectoryA(char* buffer, UINT size);
UINT GetWindowsDirectoryA(char* buffer, UINT size);
// module null: the program's own executable.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
void Sleep(DWORD milliseconds);
// A lead byte of the system's ANSI code page.
BOOL IsDBCSLeadByte(BYTE c);
}  // namespace pf
