// Start-up: where DLLs loaded by name are looked for, and how the program was
// asked to show itself.
#pragma once
#include "platform/wintypes.h"

namespace pf {
// The two are looked up in kernel32 at run time, since older systems lack
// them: the result is kMissing there, else the call's own BOOL.
constexpr int kMissing = -1;
int SetDefaultDllDirectories(DWORD directoryFlags);
int SetDllDirectoryA(const char* path);
void GetStartupInfoA(STARTUPINFOA* info);
}  // namespace pf
