// Files, folders, listing, temporary names and restart-time operations.
#pragma once
#include "platform/loader.h"
#include "platform/wintypes.h"

namespace pf {
BOOL DeleteFileA(const char* path);
BOOL RemoveDirectoryA(const char* path);
// newName may be null together with MOVEFILE_DELAY_UNTIL_REBOOT: delete at restart.
BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags);
BOOL SetFileAttributesA(const char* path, DWORD attributes);
DWORD GetFileAttributesA(const char* path);
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
// Writes up to MAX_PATH bytes into tempFileName.
UINT GetTempFileNameA(const char* pathName, const char* prefix, UINT unique, char* tempFileName);
// The canonical absolute form of name; the length written, or the size needed
// (terminator included) when buffer is too small, or 0.
DWORD GetFullPathNameA(const char* name, DWORD bufferLength, char* buffer, char** filePart);
// Where the folder at path really is, every link on the way followed:
// GetFinalPathNameByHandleA on the folder opened for its attributes,
// "\\?\C:\...". The length written, or the size needed when buffer is too
// small, or 0; kMissing where the system lacks the call (before Vista).
long GetFinalPathOfFolder(const char* path, char* buffer, DWORD bufferLength);
}  // namespace pf
