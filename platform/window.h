// Top-level windows and message boxes.
#pragma once
#include "platform/wintypes.h"

namespace pf {
HWND FindWindowA(const char* className, const char* windowName);
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
}  // namespace pf
