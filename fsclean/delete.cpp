#include "fsclean/delete.h"

#include <cstring>

#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/system.h"

unsigned IsDirectory(const char* path) {
  const DWORD attributes = pf::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return attributes & FILE_ATTRIBUTE_DIRECTORY;
}

// Temporary names tried per file: "_@1.tmp" upwards, past those still
// waiting for a restart.
constexpr UINT kTempNameTries = 256;

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

  // The file is never without an owner: the temporary name is formed without
  // creating it, scheduled for deletion at restart while nothing lies there,
  // and only then does the file move onto it. A run ended at any point leaves
  // the file in place or under a scheduled name, never an unscheduled "_@"
  // file. The move does not replace: a name taken meanwhile stays untouched.
  for (UINT unique = 1; unique <= kTempNameTries; ++unique) {
    char tempName[MAX_PATH] = {};
    if (pf::GetTempFileNameA(folder, "_@", unique, tempName) == 0) return 0;
    if (pf::GetFileAttributesA(tempName) != INVALID_FILE_ATTRIBUTES) continue;  // taken
    if (pf::GetLastError() != ERROR_FILE_NOT_FOUND) return 0;  // folder unusable
    if (!pf::MoveFileExA(tempName, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return 0;
    // Read-only would survive a restart-time deletion that honours it.
    pf::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return pf::MoveFileExA(path, tempName, 0) ? 1 : 0;
  }
  return 0;
}

static bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

static bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// True while folder is still a plain folder at its own name: not a link
// itself and, where the system names the folder that an open handle reaches
// (Vista on), reached through no link and not moved. Asked again before each
// deletion, so that the listing's names are never followed elsewhere.
static bool IsStillInPlace(const char* folder) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(attributes))
    return false;
  char final[kCanonicalCap];
  const long n = pf::GetFinalPathOfFolder(folder, final, sizeof final);
  if (n == pf::kMissing) return true;
  if (n <= 4 || static_cast<size_t>(n) >= sizeof final) return false;
  // "\\?\" and the name, in the case the file system keeps.
  return std::strncmp(final, "\\\\?\\", 4) == 0 && pf::MbsICmp(final + 4, folder) == 0;
}

int EmptyAndRemoveFolder(const char* folder) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  // A link is never listed: what lies behind it is elsewhere. RemoveDirectoryA
  // removes the link itself, never its target; it is not scheduled, since by
  // the restart the name could lead anywhere.
  if (IsLink(attributes)) return pf::RemoveDirectoryA(folder) ? 1 : 0;
  int result = 1;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char pattern[MAX_PATH];
    if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return 0;  // too long: leave it
    if (!IsStillInPlace(folder)) return 0;
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
    if (!find.IsValid()) {
      result = 0;
    } else {
      do {
        // Subfolders are not entered: nothing in them is deleted, moved or
        // scheduled. Links (to files or folders) are left as they are.
        if (IsDotEntry(data.cFileName) ||
            (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
          continue;
        char entry[MAX_PATH];
        if (!ComposePath(entry, sizeof entry, folder, "\\", data.cFileName)) continue;
        if (!IsStillInPlace(folder)) return 0;  // changed under the run: leave the rest
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
