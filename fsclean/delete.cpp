#include "fsclean/delete.h"

#include <cstring>

#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/shell.h"
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
int LeftBehindCount() { return leftBehind; }

// Temporary names tried per file: "_@1.tmp" upwards, past those still
// waiting for a restart.
constexpr UINT kTempNameTries = 256;

static bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The run's own folder for what it hands to the restart, which works as
// SYSTEM and follows a link it finds at any component of a name: inside a
// folder only administrators can write to (the Windows folder, else Program
// Files), on the volume of what it holds, so that no other account can make
// it first, take it, rename it or link anything into it.
constexpr char kRunFolderName[] = "\\Brannoch.pending";
// Inside it, the uninstallers' TEMP.
constexpr char kRunTempName[] = "\\Temp";

// The root of path's volume, with its backslash; false for a path without a
// drive letter or a root that does not fit.
static bool VolumeRootOf(const char* path, char* root, DWORD cap) {
  if (path[0] == '\0' || path[1] != ':') return false;
  const BOOL ok = pf::GetVolumePathNameA(path, root, cap);
  const size_t n = ok ? std::strlen(root) : 0;
  return n >= 3 && n < cap && root[n - 1] == '\\';
}

// True when folder is a plain folder (not a link, not a file), made now with
// the administrators' security descriptor when missing and make is set.
static bool HaveFolder(const char* folder, bool make) {
  DWORD attributes = pf::GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES && make && pf::CreateAdminOnlyFolder(folder) == 1) {
    pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN);
    attributes = pf::GetFileAttributesA(folder);
  }
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
}

RunFolder RunFolderFor(const char* path, char* folder, size_t cap, bool make) {
  folder[0] = '\0';
  char root[MAX_PATH] = {};
  // Without a drive letter: the current folder's volume, which tells whether
  // the system keeps security at all.
  const bool rooted = VolumeRootOf(path, root, MAX_PATH);
  DWORD flags = 0;
  if (!pf::GetVolumeFlags(rooted ? root : nullptr, &flags)) return RunFolder::kNone;
  // Windows 9x and FAT keep no security: nothing is safer than another place.
  if (!(flags & FILE_PERSISTENT_ACLS)) return RunFolder::kNoSecurity;
  if (!rooted) return RunFolder::kNone;
  char parents[2][MAX_PATH] = {};
  const UINT n = pf::GetSystemWindowsDirectoryA(parents[0], MAX_PATH);
  if (n == 0 || n >= MAX_PATH) parents[0][0] = '\0';
  if (!pf::SHGetSpecialFolderPathA(nullptr, parents[1], CSIDL_PROGRAM_FILES, FALSE)) parents[1][0] = '\0';
  for (const char* parent : parents) {
    char parentRoot[MAX_PATH] = {};
    // Only an administrator can make a name there: one found is an earlier
    // run's, whose work this run finishes.
    if (VolumeRootOf(parent, parentRoot, MAX_PATH) && pf::MbsICmp(parentRoot, root) == 0 &&
        ComposePath(folder, cap, parent, kRunFolderName) && HaveFolder(folder, make))
      return RunFolder::kReady;
  }
  folder[0] = '\0';
  return RunFolder::kNone;
}

RunFolder RunTempFolderFor(const char* pathOnVolume, char* folder, size_t cap) {
  char run[MAX_PATH];
  const RunFolder kind = RunFolderFor(pathOnVolume, run, sizeof run, true);
  if (kind != RunFolder::kReady) return kind;
  return ComposePath(folder, cap, run, kRunTempName) && HaveFolder(folder, true) ? kind : RunFolder::kNone;
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
  const RunFolder kind = RunFolderFor(path, runFolder, sizeof runFolder, true);
  if (kind == RunFolder::kReady) {
    if (MoveAside(path, runFolder, false)) return 1;
    NoteLeftBehind();
    return 0;
  }
  // No safe place on its volume: it stays, nothing is handed over, and the
  // next run tries again.
  if (kind == RunFolder::kNone) {
    NoteLeftBehind();
    return 0;
  }

  // No security (Windows 9x, FAT): the temporary folder
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

// Makes each folder from the one below special down to folder the
// administrators', outermost first, so that none can be renamed, emptied
// into a link or replaced meanwhile. True where the volume keeps no security.
static bool MakeChainAdminOnly(const char* special, const char* folder) {
  char root[MAX_PATH] = {};
  DWORD flags = 0;
  if (VolumeRootOf(folder, root, MAX_PATH) && pf::GetVolumeFlags(root, &flags) && !(flags & FILE_PERSISTENT_ACLS))
    return true;
  char base[kCanonicalCap];
  const DWORD c = pf::GetFullPathNameA(special, sizeof base, base, nullptr);
  if (c == 0 || c >= sizeof base) return false;
  size_t from = std::strlen(base);
  if (base[from - 1] == '\\') --from;  // a drive's root
  const size_t len = std::strlen(folder);
  if (len >= MAX_PATH || std::strncmp(folder, base, from) != 0 || folder[from] != '\\') return false;
  char prefix[MAX_PATH];
  for (size_t i = from + 1; i <= len; ++i) {
    if (i < len && folder[i] != '\\') {
      if (pf::IsDBCSLeadByte(static_cast<BYTE>(folder[i])) && folder[i + 1] != '\0') ++i;
      continue;
    }
    std::memcpy(prefix, folder, i);
    prefix[i] = '\0';
    const int made = pf::MakeFolderAdminOnly(prefix);
    if (made == pf::kMissing) return true;  // Windows 9x
    if (made != 1) return false;
  }
  return true;
}

// What folder is now, for the checks before each act on it; false when it
// cannot be told or is not a plain folder reached through plain folders.
static bool SeeFolder(const char* special, const char* folder, FolderSeen* seen, pf::FileIdentity* identity) {
  const int known = pf::GetFileIdentity(folder, identity);
  seen->identity = known == 1 ? identity : nullptr;
  return known != 0 && ExpectedFinalPath(special, folder, seen->finalPath, sizeof seen->finalPath) &&
         IsStillInPlace(folder, *seen);
}

// Removes the folder now, else hands it to the restart under its own name:
// only while it is still what the step saw, and once it and each folder
// between it and special are the administrators' (a user could otherwise
// empty it after the run and leave a link there for SYSTEM to follow). A
// folder that cannot be made so is left, and noted.
static int RemoveOrSchedule(const char* special, const char* folder, const FolderSeen& seen, int result) {
  if (pf::RemoveDirectoryA(folder)) return result;
  if (!IsStillInPlace(folder, seen)) return 0;  // gone, or not ours any more
  if (MakeChainAdminOnly(special, folder) && IsStillInPlace(folder, seen) &&
      pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return result;
  NoteLeftBehind();
  return 0;
}

int RemoveOrScheduleFolderBelow(const char* special, const char* folder) {
  if (IsLink(pf::GetFileAttributesA(folder))) return pf::RemoveDirectoryA(folder) ? 1 : 0;
  if (pf::GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) return 1;  // nothing there: nothing to hand over
  FolderSeen seen;
  pf::FileIdentity identity;
  return SeeFolder(special, folder, &seen, &identity) ? RemoveOrSchedule(special, folder, seen, 1) : 0;
}

int EmptyAndRemoveFolderBelow(const char* special, const char* folder) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  // A link is never listed: what lies behind it is elsewhere. RemoveDirectoryA
  // removes the link itself, never its target; it is not scheduled, since by
  // the restart the name could lead anywhere.
  if (IsLink(attributes)) return pf::RemoveDirectoryA(folder) ? 1 : 0;
  // Nothing there is nothing to remove; a file is not this step's.
  if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  char pattern[MAX_PATH];
  if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return 0;  // too long: leave it
  FolderSeen seen;
  pf::FileIdentity identity;
  // Cannot tell what it is, or where it must be: leave it.
  if (!SeeFolder(special, folder, &seen, &identity)) return 0;
  int result = 1;
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
  pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_NORMAL);
  return RemoveOrSchedule(special, folder, seen, result);
}

// What the run's folder holds is handed over whole, deepest first: the
// moved-aside files, and what the uninstallers left in their TEMP. Entries
// handed over are marked hidden, so that each is scheduled once.
constexpr int kMaxRunFolderDepth = 8;

// One pass over folder and what it holds. mark false: deletes what can go
// now, schedules the rest (each unmarked file, then each folder after its
// contents when anything in it was scheduled); mark true: marks the files
// scheduled. A link found inside is removed itself, never scheduled (the
// restart would follow it). True when anything was scheduled; *refused when
// a scheduling was refused.
static bool PassOverRunFolder(const char* folder, bool mark, int depth, bool* refused) {
  char pattern[MAX_PATH];
  if (depth > kMaxRunFolderDepth || !ComposePath(pattern, sizeof pattern, folder, "\\*")) return false;
  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof data);
  pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
  if (!find.IsValid()) return false;
  bool any = false;
  do {
    char entry[MAX_PATH];
    if (IsDotEntry(data.cFileName) || !ComposePath(entry, sizeof entry, folder, "\\", data.cFileName)) continue;
    const DWORD a = data.dwFileAttributes;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!mark && !((a & FILE_ATTRIBUTE_DIRECTORY) ? pf::RemoveDirectoryA(entry) : pf::DeleteFileA(entry)))
        *refused = true;  // a link that stays keeps the folder from the restart
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
      const bool inside = PassOverRunFolder(entry, mark, depth + 1, refused);
      if (!mark && !pf::RemoveDirectoryA(entry) && inside &&
          !pf::MoveFileExA(entry, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        *refused = true;
      any = any || inside;
    } else if (mark) {
      if (!(a & FILE_ATTRIBUTE_HIDDEN)) pf::SetFileAttributesA(entry, FILE_ATTRIBUTE_HIDDEN);
    } else if (!(a & FILE_ATTRIBUTE_HIDDEN)) {
      pf::SetFileAttributesA(entry, FILE_ATTRIBUTE_NORMAL);
      if (pf::DeleteFileA(entry)) continue;
      any = true;
      if (!pf::MoveFileExA(entry, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) *refused = true;
    }
  } while (pf::FindNextFileA(find.Get(), &data));
  return any;
}

void ScheduleRunFolders(const char* pathOnVolume) {
  char folder[MAX_PATH];
  if (RunFolderFor(pathOnVolume, folder, sizeof folder, false) != RunFolder::kReady) return;
  bool refused = false;
  const bool any = PassOverRunFolder(folder, false, 0, &refused);
  if (pf::RemoveDirectoryA(folder)) return;  // nothing was left in it
  // The folder after everything in it, then the marks: a run ended before
  // the last mark leaves the next run to schedule the rest and the folder
  // again; a refusal leaves all of it to the next run.
  if (!any || !pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) || refused) return;
  PassOverRunFolder(folder, true, 0, &refused);
}
