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
// The long form of an existing path, each 8.3 name spelled out (Windows 98
// and 2000 on): the length written, or the size needed (terminator included)
// when buffer is too small, or 0; ERROR_CALL_NOT_IMPLEMENTED where the system
// lacks the call.
DWORD GetLongPathNameA(const char* path, char* buffer, DWORD bufferLength);
// Where the folder at path really is, every link on the way followed:
// GetFinalPathNameByHandleA on the folder opened for its attributes,
// "\\?\C:\...". The length written, or the size needed when buffer is too
// small, or 0; kMissing where the system lacks the call (before Vista).
long GetFinalPathOfFolder(const char* path, char* buffer, DWORD bufferLength);

// What a file or folder is, whatever name reaches it: the volume's serial
// number and the file index (GetFileInformationByHandle), with its attributes.
struct FileIdentity {
  DWORD volume = 0, indexHigh = 0, indexLow = 0, attributes = 0;
};
// The entry at path itself, a link at that name not followed
// (FILE_FLAG_OPEN_REPARSE_POINT); links on the way to it are followed.
// 1, 0, or kMissing where the system opens no folder (Windows 9x).
int GetFileIdentity(const char* path, FileIdentity* identity);
// The root of the volume that path lies on ("C:", or a folder a volume is
// mounted on), with its trailing backslash.
BOOL GetVolumePathNameA(const char* path, char* root, DWORD rootLength);
// CreateDirectoryA with a security descriptor of owner Administrators and a
// DACL protected from inheritance that grants full control to SYSTEM and
// Administrators only (inherited by what is made inside). 1, or 0 with the
// last error; kMissing where the system keeps no security (Windows 9x).
int CreateAdminOnlyFolder(const char* path);
// The folder at path itself (a link there, or a file, is refused) made the
// administrators': owner Administrators and a protected DACL for SYSTEM and
// Administrators only, set on it alone through its handle (what it holds
// keeps its own), taking ownership where the owner must change. 1, or 0 with
// the last error; kMissing where the system keeps no security.
int MakeFolderAdminOnly(const char* path);
// The file-system flags of the volume at root (GetVolumeInformationA; null:
// the current folder's): FILE_PERSISTENT_ACLS where it keeps security, never
// on Windows 9x.
BOOL GetVolumeFlags(const char* root, DWORD* flags);
// The Windows folder shared by every session (GetSystemWindowsDirectoryA;
// GetWindowsDirectoryA may give a Terminal Server user's own); as
// GetWindowsDirectoryA answers, or 0 where the system lacks the call.
UINT GetSystemWindowsDirectoryA(char* buffer, UINT size);
// 1 when path itself (a link there not followed) is a plain folder, not a
// reparse point, owned by Administrators, whose DACL is protected and allows
// SYSTEM and Administrators only: what CreateAdminOnlyFolder makes, which no
// other account can write to or rename. 0 otherwise.
int IsAdminOnlyFolder(const char* path);
// The owner and DACL of the entry at path itself, read through its own handle
// (a link there is refused, and so is a file where folder is set, a folder
// where it is not): a self-relative security descriptor in buffer. Its
// length; 0 with the last error (ERROR_INSUFFICIENT_BUFFER where it does not
// fit); kMissing where the system keeps no security.
long GetItemSecurity(const char* path, bool folder, void* buffer, DWORD size);
// MakeFolderAdminOnly for a plain file (a link or a folder refused).
int MakeFileAdminOnly(const char* path);

// A program or service that holds a file open, as Restart Manager names it.
struct FileHolder {
  DWORD pid = 0, session = 0;
  int kind = 0;     // RM_APP_TYPE: kHolderService, kHolderCritical, ...
  WCHAR name[64] = {};  // its description or service name, cut to fit
};
constexpr int kHolderService = 3, kHolderCritical = 1000;
// Who holds path open (RmStartSession, RmRegisterResources, RmGetList;
// Windows Vista on, rstrtmgr.dll loaded from the system directory): how many
// there are, the first capacity written; 0 when none is known; kMissing where
// the system has no Restart Manager, -2 where it cannot say.
long WhoHoldsFile(const char* path, FileHolder* holders, unsigned capacity);
}  // namespace pf
