#include "fsclean/delete.h"

#include <cstring>

#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/system.h"

unsigned IsDirectory(const char* path) {
  const DWORD attributes = pf::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return attributes & FILE_ATTRIBUTE_DIRECTORY;
}

static bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

int DeleteOrScheduleFile(const char* path) {
  if (pf::DeleteFileA(path)) return 1;
  // A folder moved onto the temporary file would take its whole contents
  // out of sight: a folder is never moved.
  if (IsDirectory(path)) return 0;

  char tempDir[MAX_PATH] = {};
  const DWORD tempLen = pf::GetTempPathA(MAX_PATH, tempDir);
  if (tempLen == 0 || tempLen >= MAX_PATH) tempDir[0] = '\0';  // unusable: fall back to the root

  char drive = path[0];
  if (path[0] == '\0' || path[1] != ':') {
    char ownPath[256] = {};
    pf::GetModuleFileNameA(nullptr, ownPath, sizeof ownPath);
    drive = ownPath[0];
  }
  char driveRoot[4] = {drive, ':', '\\', '\0'};

  // One byte, case-sensitive: a lower-case drive letter goes to the root.
  const char* folder = driveRoot;
  if (tempDir[0] != '\0' && path[0] == tempDir[0]) {
    folder = tempDir;
  } else if (!IsAsciiLetter(drive)) {
    return 0;  // no drive to put the temporary name on
  }

  char tempName[MAX_PATH] = {};
  if (pf::GetTempFileNameA(folder, "_@", 0, tempName) == 0) return 0;
  if (!pf::MoveFileExA(path, tempName, MOVEFILE_REPLACE_EXISTING)) {
    pf::DeleteFileA(tempName);  // the empty file GetTempFileNameA created
    return 0;
  }
  // The file now lies under our own temporary name. A read-only one would
  // survive a restart-time deletion that honours the attribute.
  pf::SetFileAttributesA(tempName, FILE_ATTRIBUTE_NORMAL);
  return pf::MoveFileExA(tempName, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}

static bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

int EmptyAndRemoveFolder(const char* folder) {
  int result = 1;
  if (IsDirectory(folder)) {
    char pattern[MAX_PATH];
    if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return 0;  // too long: leave it
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
    if (!find.IsValid()) {
      result = 0;
    } else {
      do {
        // Subfolders are not entered: nothing in them is deleted, moved or scheduled.
        if (IsDotEntry(data.cFileName) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        char entry[MAX_PATH];
        if (!ComposePath(entry, sizeof entry, folder, "\\", data.cFileName)) continue;
        pf::SetFileAttributesA(entry, FILE_ATTRIBUTE_NORMAL);
        if (pf::DeleteFileA(entry)) continue;
        char ownPath[MAX_PATH] = {};
        pf::GetModuleFileNameA(nullptr, ownPath, MAX_PATH);
        if (std::strcmp(entry, ownPath) != 0) DeleteOrScheduleFile(entry);
      } while (pf::FindNextFileA(find.Get(), &data));
    }
  }
  pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_NORMAL);
  if (pf::RemoveDirectoryA(folder)) return result;
  return pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? result : 0;
}
