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

// Written and read on the run's thread only.
static int leftBehind = 0;
void ResetLeftBehind() { leftBehind = 0; }
void NoteLeftBehind() { ++leftBehind; }
bool AnythingLeftBehind() { return leftBehind != 0; }

// Temporary names tried per file: "_@1.tmp" upwards, past those still
// waiting for a restart.
constexpr UINT kTempNameTries = 256;

static bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The run's own folder at a volume's root, for what resists deletion until
// the restart: hidden, writable by SYSTEM and Administrators only, so that no
// name handed to the restart (which works as SYSTEM and follows a link it
// finds at a name) can be taken by another account meanwhile. The next names
// serve when one is held by something that is not the run's.
constexpr const char* kRunFolderNames[] = {"Brannoch.pending", "Brannoch.pending1", "Brannoch.pending2",
                                           "Brannoch.pending3"};

// The root of path's volume, with its backslash; false for a path without a
// drive letter or a root that does not fit.
static bool VolumeRootOf(const char* path, char* root, DWORD cap) {
  if (path[0] == '\0' || path[1] != ':') return false;
  const BOOL ok = pf::GetVolumePathNameA(path, root, cap);
  const size_t n = ok ? std::strlen(root) : 0;
  return n >= 3 && n < cap && root[n - 1] == '\\';
}

// The run's folder on path's volume, made when missing and used only when it
// is the run's own (a plain folder of the run's owner and DACL); false when
// the system keeps no security or no such folder can be had.
static bool RunFolderFor(const char* path, char* folder, size_t cap) {
  char root[MAX_PATH] = {};
  if (!VolumeRootOf(path, root, MAX_PATH)) return false;
  for (const char* name : kRunFolderNames) {
    if (!ComposePath(folder, cap, root, name)) return false;
    int made = 0;
    if (pf::GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) {
      made = pf::CreateAdminOnlyFolder(folder);
      if (made == pf::kMissing || (made == 0 && pf::GetLastError() != ERROR_ALREADY_EXISTS)) return false;
      if (made == 1) pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN);
    }
    if (pf::IsAdminOnlyFolder(folder) == 1) return true;
    if (made == 1) {  // made, but not kept as made: this volume keeps no security
      pf::RemoveDirectoryA(folder);
      return false;
    }
  }
  return false;
}

// Moves the file onto a free "_@" name in folder, never replacing anything.
// scheduleNow: the name is scheduled at once, and a refused scheduling moves
// the file back; otherwise ScheduleRunFolders schedules it. Nothing is
// scheduled for a move that failed.
static int MoveAside(const char* path, const char* folder, bool scheduleNow) {
  for (UINT unique = 1; unique <= kTempNameTries; ++unique) {
    char tempName[MAX_PATH] = {};
    if (pf::GetTempFileNameA(folder, "_@", unique, tempName) == 0) return 0;
    if (pf::GetFileAttributesA(tempName) != INVALID_FILE_ATTRIBUTES) continue;  // taken
    if (pf::GetLastError() != ERROR_FILE_NOT_FOUND) return 0;                   // folder unusable
    // Read-only would survive a restart-time deletion that honours it.
    pf::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!pf::MoveFileExA(path, tempName, 0)) return 0;
    if (!scheduleNow || pf::MoveFileExA(tempName, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return 1;
    pf::MoveFileExA(tempName, path, 0);
    return 0;
  }
  return 0;
}

int DeleteOrScheduleFile(const char* path) {
  if (pf::DeleteFileA(path)) return 1;
  const DWORD error = pf::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;  // nothing to hand over
  // A folder moved onto the temporary name would take its whole contents
  // out of sight: a folder is never moved.
  if (IsDirectory(path)) return 0;

  char runFolder[MAX_PATH];
  if (RunFolderFor(path, runFolder, sizeof runFolder)) return MoveAside(path, runFolder, false);

  // No security (Windows 9x), or no folder of the run's: the temporary folder
  // when the path's first byte is its first byte, else the drive's root.
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
  return MoveAside(path, folder, true);
}

static bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

static bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

static bool SameItem(const pf::FileIdentity& a, const pf::FileIdentity& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// What a folder being emptied is known by: its identity when the step began
// (null where the system cannot tell, Windows 9x), and where it must be
// reached, the final path of the trusted folder above it (the special
// folder, as the system resolves it, or the drive root) plus the rest of its
// path ("" where the system names no final path, before Vista).
struct FolderSeen {
  const pf::FileIdentity* identity;
  char finalPath[kCanonicalCap];
};

// Where folder must be reached from base (a prefix of it, byte for byte):
// base's own final path, then the rest of folder's path.
static bool ExpectedFinalPath(const char* base, const char* folder, char* out, size_t cap) {
  out[0] = '\0';
  char canonical[kCanonicalCap];  // as CheckBelow built folder from it
  const DWORD c = pf::GetFullPathNameA(base, sizeof canonical, canonical, nullptr);
  if (c == 0 || c >= sizeof canonical) return false;
  base = canonical;
  const size_t baseLen = std::strlen(base);
  if (std::strncmp(folder, base, baseLen) != 0) return false;
  const char* rest = folder + baseLen;
  if (rest[0] == '\\') ++rest;
  const long n = pf::GetFinalPathOfFolder(base, out, static_cast<DWORD>(cap));
  if (n == pf::kMissing) {
    out[0] = '\0';
    return true;
  }
  if (n <= 4 || static_cast<size_t>(n) >= cap) return false;
  if (out[n - 1] == '\\') out[n - 1] = '\0';
  if (rest[0] == '\0') return true;
  char joined[kCanonicalCap];
  if (!ComposePath(joined, sizeof joined, out, "\\", rest)) return false;
  std::memcpy(out, joined, std::strlen(joined) + 1);
  return true;
}

// True while folder is still a plain folder at its own name, the very one it
// was when the step began, reached where it must be: known by what it is, not
// by how its path is spelt, so a special folder reached through a link, an
// 8.3 name or SUBST is still itself, while a link put on the way below it, or
// a folder put in its place, stops the step. Asked again before each
// deletion, so the listing's names are never followed elsewhere.
static bool IsStillInPlace(const char* folder, const FolderSeen& seen) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(attributes))
    return false;
  if (seen.identity != nullptr) {
    pf::FileIdentity now;
    if (pf::GetFileIdentity(folder, &now) != 1 || !SameItem(now, *seen.identity) || IsLink(now.attributes))
      return false;
  }
  if (seen.finalPath[0] == '\0') return true;
  char final[kCanonicalCap];
  const long n = pf::GetFinalPathOfFolder(folder, final, sizeof final);
  return n > 0 && static_cast<size_t>(n) < sizeof final && pf::MbsICmp(final, seen.finalPath) == 0;
}

int EmptyAndRemoveFolder(const char* folder) {
  // Nothing above the folder is trusted but its drive's root.
  char root[4] = {folder[0], folder[1], '\\', '\0'};
  if (folder[0] == '\0' || folder[1] != ':' || folder[2] != '\\') root[0] = '\0';
  return EmptyAndRemoveFolderBelow(root, folder);
}

int EmptyAndRemoveFolderBelow(const char* special, const char* folder) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  // A link is never listed: what lies behind it is elsewhere. RemoveDirectoryA
  // removes the link itself, never its target; it is not scheduled, since by
  // the restart the name could lead anywhere.
  if (IsLink(attributes)) return pf::RemoveDirectoryA(folder) ? 1 : 0;
  int result = 1;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char pattern[MAX_PATH];
    if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return 0;  // too long: leave it
    pf::FileIdentity identity;
    const int known = pf::GetFileIdentity(folder, &identity);
    FolderSeen seen;
    seen.identity = known == 1 ? &identity : nullptr;
    // Cannot tell what it is, or where it must be: leave it.
    if (known == 0 || !ExpectedFinalPath(special, folder, seen.finalPath, sizeof seen.finalPath)) return 0;
    if (!IsStillInPlace(folder, seen)) return 0;
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
        if (!IsStillInPlace(folder, seen)) return 0;  // changed under the run: leave the rest
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

// True for an entry of a run's folder still to be handed to the restart: a
// "_@" file, neither a link nor marked (hidden) as handed over.
static bool IsUnscheduledTempName(const WIN32_FIND_DATAA& data) {
  return data.cFileName[0] == '_' && data.cFileName[1] == '@' &&
         !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN));
}

// One pass over a run's folder: schedules (mark false) or marks hidden
// (mark true) each unscheduled "_@" file. Sets *any when one was found,
// *refused when a scheduling was refused, *empty when the folder holds nothing.
static void PassOverRunFolder(const char* folder, bool mark, bool* any, bool* refused, bool* empty) {
  char pattern[MAX_PATH];
  if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return;
  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof data);
  pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
  if (!find.IsValid()) return;
  *empty = true;
  do {
    if (IsDotEntry(data.cFileName)) continue;
    *empty = false;
    char entry[MAX_PATH];
    if (!IsUnscheduledTempName(data) || !ComposePath(entry, sizeof entry, folder, "\\", data.cFileName)) continue;
    *any = true;
    if (mark) pf::SetFileAttributesA(entry, FILE_ATTRIBUTE_HIDDEN);
    else if (!pf::MoveFileExA(entry, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) *refused = true;
  } while (pf::FindNextFileA(find.Get(), &data));
}

void ScheduleRunFolders(const char* pathOnVolume) {
  char root[MAX_PATH] = {};
  if (!VolumeRootOf(pathOnVolume, root, MAX_PATH)) return;
  for (const char* name : kRunFolderNames) {
    char folder[MAX_PATH];
    if (!ComposePath(folder, sizeof folder, root, name) || pf::IsAdminOnlyFolder(folder) != 1) continue;
    bool any = false, refused = false, empty = false;
    PassOverRunFolder(folder, false, &any, &refused, &empty);
    if (empty) pf::RemoveDirectoryA(folder);
    // The folder after everything in it, then the marks: a run ended before
    // the last mark leaves the next run to schedule the rest and the folder
    // again; a refusal leaves all of it to the next run.
    if (!any || !pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) || refused) continue;
    PassOverRunFolder(folder, true, &any, &refused, &empty);
  }
}
