// Text between code pages, through UTF-16, as the system converts it.
#pragma once
#include "platform/wintypes.h"

namespace pf {
// The system's ANSI code page: the one every A call reads narrow text in
// (65001 where "Use Unicode UTF-8 for worldwide language support" is on).
UINT GetACP();
// As the Windows calls: the number of units written (the terminator counted
// when length is -1), the size needed when the output capacity is 0, or 0
// with GetLastError (ERROR_INVALID_PARAMETER for a code page the system does
// not have, ERROR_NO_UNICODE_TRANSLATION for invalid input under
// MB_ERR_INVALID_CHARS, ERROR_INSUFFICIENT_BUFFER).
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide, int wideCap);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* text, int textCap,
                        const char* defaultChar, BOOL* usedDefaultChar);
}  // namespace pf
