// Top-level windows and message boxes.
#pragma once
#include <cstring>

#include "platform/system.h"
#include "platform/wintypes.h"

namespace pf {
HWND FindWindowA(const char* className, const char* windowName);
// The desktop shell's window in the caller's session; null when no shell runs
// (or the system lacks the call).
HWND GetShellWindow();
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result);

// Lets msg through hwnd's message filter (ChangeWindowMessageFilterEx,
// MSGFLT_ALLOW; Windows 7 on, looked up at run time): an elevated window
// otherwise never hears a registered message the shell sends it. FALSE with
// ERROR_CALL_NOT_IMPLEMENTED where the system lacks the call.
BOOL AllowMessageThrough(HWND hwnd, UINT msg);

// Windows 95, 98 and Me offer most W calls as stubs that only fail: there
// windows and boxes are made with the A calls, in the system's own code page.
// Elsewhere, and when the version cannot be read, the W calls.
inline bool UsesAnsiWindowCalls() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return pf::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Texts stored as bytes of a given code page, shown as that code page reads
// them whatever the system's own: on NT converted to Unicode for the W call;
// on Windows 9x, or where the system cannot convert from that code page, the
// bytes go to the A call as they are. codePage CP_ACP: plain ASCII, which
// every ANSI code page reads alike.
int MessageBoxInCodePage(HWND owner, const char* text, const char* caption, UINT codePage, UINT type);
BOOL SetWindowTextInCodePage(HWND hwnd, const char* text, UINT codePage);
// A box of UTF-16 texts (MessageBoxW); on Windows 9x converted to
// narrowCodePage for the A call, as MessageBoxInCodePage hands its bytes.
int MessageBoxUnicode(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type, UINT narrowCodePage);
}  // namespace pf
