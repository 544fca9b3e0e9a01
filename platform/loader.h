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
// SetProcessMitigationPolicy with ProcessRedirectionTrustPolicy (16) and the
// policy's DWORD of flags (EnforceRedirectionTrust 0x1, AuditRedirectionTrust
// 0x2), looked up at run time likewise (Windows 8 on; the policy itself from
// Windows 10 22H2).
constexpr int kProcessRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 0x1;
int SetRedirectionTrustPolicy(DWORD flags);
void GetStartupInfoA(STARTUPINFOA* info);
}  // namespace pf
