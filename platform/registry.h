// Registry calls the core makes (HKEY_LOCAL_MACHINE only).
#pragma once
#include "platform/wintypes.h"

namespace pf {
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegDeleteValueA(HKEY key, const char* valueName);
LONG RegDeleteKeyA(HKEY root, const char* subKey);
// Deletes a key with all its subkeys and values (SHLWAPI).
LONG SHDeleteKeyA(HKEY root, const char* subKey);
LONG RegCloseKey(HKEY key);
// A value's type and data; data null asks for its size in bytes alone, a
// size too small gives ERROR_MORE_DATA and the size needed.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size);
}  // namespace pf
