#include "fsclean/delete.h"

#include <cstring>

#include "fsclean/leftovers.h"
#include "fsclean/paths.h"
#include "fsclean/run_folder.h"
#include "fsclean/security.h"
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

// Temporary names tried per file: "_@1.tmp" upwards, past those still
// waiting for a restart.
constexpr UINT kTempNameTries = 256;

static bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

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

namespace {

// The names a step deleted, to know them again in a fresh listing (a file
// deleted while another program holds it open with delete sharing stays
// listed until that program lets go). Beyond its room a name is not known.
class DeletedNames {
 public:
  DeletedNames() : block_(kRoom) {}
  void Add(const char* name) {
    const size_t n = std::strlen(name) + 1;
    if (block_.Get() == nullptr || used_ + n >= kRoom) return;
    std::memcpy(block_.Get() + used_, name, n);
    used_ += n;
  }
  bool Has(const char* name) const {
    for (size_t at = 0; at < used_; at += std::strlen(block_.Get() + at) + 1)
      if (std::strcmp(block_.Get() + at, name) == 0) return true;
    return false;
  }

 private:
  static constexpr size_t kRoom = 16384;
  pf::ScopedBuffer block_;
  size_t used_ = 0;
};

// The folder path holds: everything before its last backslash.
bool FolderOf(const char* path, char* folder, size_t cap) {
  const char* last = pf::MbsRChr(path, '\\');
  if (last == nullptr || static_cast<size_t>(last - path) >= cap) return false;
  std::memcpy(folder, path, static_cast<size_t>(last - path));
  folder[last - path] = '\0';
  return true;
}

}  // namespace

// True when no folder from special down to folder lets another account than
// the administrators change it (add, delete or rename entries, or its
// security), each read through its own handle, a link refused. When open is
// given, *open tells which: 1 special, 2 a folder between, 4 folder itself.
bool ChainClosed(const char* special, const char* folder, unsigned* open) {
  unsigned which = 0;
  char base[kCanonicalCap];
  const DWORD c = pf::GetFullPathNameA(special, sizeof base, base, nullptr);
  size_t from = c != 0 && c < sizeof base ? std::strlen(base) : 0;
  if (from > 0 && base[from - 1] == '\\') --from;  // a drive's root
  const size_t len = std::strlen(folder);
  if (from == 0 || len >= MAX_PATH || std::strncmp(folder, base, from) != 0 ||
      (folder[from] != '\\' && folder[from] != '\0')) {
    if (open != nullptr) *open = 7;
    return false;
  }
  char prefix[MAX_PATH];
  for (size_t i = from; i <= len; ++i) {
    if (i < len && folder[i] != '\\') {
      if (pf::IsDBCSLeadByte(static_cast<BYTE>(folder[i])) && folder[i + 1] != '\0') ++i;
      continue;
    }
    std::memcpy(prefix, folder, i);
    prefix[i] = '\0';
    if (i == from && i < 3) continue;  // "C:": its root has no name to read
    if (!OnlyAdministratorsChange(i == from ? special : prefix)) which |= i == from ? 1u : i == len ? 4u : 2u;
  }
  if (open != nullptr) *open = which;
  return which == 0;
}

namespace {

// A file whose DACL refuses the administrators what deleting it needs is made
// theirs, on its own handle; never the system's own (TrustedInstaller's).
bool TakeFile(const char* path) {
  DWORD descriptor[128];
  const long n = pf::GetItemSecurity(path, false, descriptor, sizeof descriptor);
  return n > 0 && !OwnedByTrustedInstaller(descriptor, static_cast<size_t>(n)) && pf::MakeFileAdminOnly(path) == 1;
}

// A file that can be neither deleted nor moved aside. Where a program of the
// user's session holds it, it stays, and closing that program and running
// again finishes the job. Otherwise (a service, a critical process, another
// session's program, or nothing can tell) its own name is handed to the
// restart, which runs before any service starts, but only where no other
// account can change a folder on its way; else it stays.
int HandOverOwnName(const char* special, const char* path, DWORD error, RunFolder kind, RunRecord* record) {
  pf::FileHolder holders[4];
  const long n = pf::WhoHoldsFile(path, holders, 4);
  DWORD ownSession = 0;
  const bool sessions = pf::ProcessIdToSessionId(pf::GetCurrentProcessId(), &ownSession) != FALSE;
  for (long i = 0; i < n && i < 4; ++i) {
    const pf::FileHolder& h = holders[i];
    if (h.kind != pf::kHolderService && h.kind != pf::kHolderCritical && (!sessions || h.session == ownSession)) {
      if (record != nullptr) record->Stay(path, StayReason::kHeld, true, h.name);
      return 0;
    }
  }
  const WCHAR* holder = n > 0 ? holders[0].name : nullptr;
  // Nothing holds it and it still cannot go: it is not the run's to force.
  if (n == 0 && error != ERROR_SHARING_VIOLATION) {
    if (record != nullptr)
      record->Stay(path, kind == RunFolder::kNone ? StayReason::kNoRunFolder : StayReason::kNotTaken, false);
    return 0;
  }
  char folder[MAX_PATH];
  if (!FolderOf(path, folder, sizeof folder) || !ChainClosed(special, folder, nullptr)) {
    if (record != nullptr) record->Stay(path, StayReason::kHeldElsewhere, false, holder);
    return 0;
  }
  if (!pf::MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    if (record != nullptr) record->Stay(path, StayReason::kRefused, false, holder);
    return 0;
  }
  if (record != nullptr) record->Handed(path);
  return 1;
}

// DeleteOrScheduleFile for a file below special, the folder whose security
// is trusted as it is.
int HandFile(const char* special, const char* path, RunRecord* record) {
  if (pf::DeleteFileA(path)) return 1;
  const DWORD error = pf::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;  // nothing to hand over
  // A folder moved onto the temporary name would take its whole contents
  // out of sight: a folder is never moved.
  if (IsDirectory(path)) return 0;

  char runFolder[MAX_PATH];
  const RunFolder kind = RunFolderFor(path, runFolder, sizeof runFolder, true, record);
  if (kind == RunFolder::kReady) {
    if (MoveAside(path, runFolder, false)) return 1;
    // Its DACL refuses the administrators DELETE: it is the edition's own
    // file, so it is taken and goes like any other.
    if (error == ERROR_ACCESS_DENIED && TakeFile(path) &&
        (pf::DeleteFileA(path) || MoveAside(path, runFolder, false)))
      return 1;
  }
  if (kind != RunFolder::kNoSecurity) return HandOverOwnName(special, path, error, kind, record);

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

}  // namespace

int DeleteOrScheduleFile(const char* path, RunRecord* record) {
  // Judged by its own folder's security (the system directory's for the
  // vendor's libraries).
  char folder[MAX_PATH] = {};
  if (!FolderOf(path, folder, sizeof folder)) folder[0] = '\0';
  return HandFile(folder, path, record);
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

int EmptyAndRemoveFolder(const char* folder, RunRecord* record) {
  // Nothing above the folder is trusted but its drive's root.
  char root[4] = {folder[0], folder[1], '\\', '\0'};
  if (folder[0] == '\0' || folder[1] != ':' || folder[2] != '\\') root[0] = '\0';
  return EmptyAndRemoveFolderBelow(root, folder, record);
}

// What folder is now, for the checks before each act on it; false when it
// cannot be told or is not a plain folder reached through plain folders.
static bool SeeFolder(const char* special, const char* folder, FolderSeen* seen, pf::FileIdentity* identity) {
  const int known = pf::GetFileIdentity(folder, identity);
  seen->identity = known == 1 ? identity : nullptr;
  return known != 0 && ExpectedFinalPath(special, folder, seen->finalPath, sizeof seen->finalPath) &&
         IsStillInPlace(folder, *seen);
}

// True when a fresh listing of folder shows only what the run leaves there:
// names this step deleted that can no longer be opened (delete pending), and
// what the run handed to the restart under its own name. A listing that
// fails, the program's own exe, a subfolder or any other file: false.
static bool HoldsOnlyTheRuns(const char* folder, const DeletedNames* deleted, const RunRecord* record) {
  char pattern[MAX_PATH];
  if (!ComposePath(pattern, sizeof pattern, folder, "\\*")) return false;
  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof data);
  pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
  if (!find.IsValid()) return false;
  do {
    if (IsDotEntry(data.cFileName)) continue;
    char entry[MAX_PATH];
    if (!ComposePath(entry, sizeof entry, folder, "\\", data.cFileName)) return false;
    if (record != nullptr && record->WasHanded(entry)) continue;
    const bool file = !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    if (file && deleted != nullptr && deleted->Has(data.cFileName) &&
        pf::GetFileAttributesA(entry) == INVALID_FILE_ATTRIBUTES && pf::GetLastError() == ERROR_ACCESS_DENIED)
      continue;  // deleted, gone once its holder lets go
    return false;
  } while (pf::FindNextFileA(find.Get(), &data));
  return true;
}

// Removes the folder now, else hands it to the restart under its own name:
// only when it holds nothing but the run's own leftovers (the restart removes
// a folder only when it is empty, so anything else would keep it, and its
// rights, for good) and while it is still what the step saw. A folder that
// holds anything else is left exactly as it was. Where a folder from special
// down lets other accounts change it, the folder itself is made the
// administrators' first (a user could otherwise empty it after the run and
// leave a link there for SYSTEM to follow); a folder between that lets
// others change it is never taken, and the folder then stays, noted.
static int RemoveOrSchedule(const char* special, const char* folder, const FolderSeen& seen, int result,
                            const DeletedNames* deleted, RunRecord* record) {
  if (pf::RemoveDirectoryA(folder)) return result;
  if (!IsStillInPlace(folder, seen)) return 0;  // gone, or not ours any more
  if (!HoldsOnlyTheRuns(folder, deleted, record)) return result;
  char root[MAX_PATH] = {};
  DWORD flags = 0;
  const bool secure = !(pf::GetVolumePathNameA(folder, root, MAX_PATH) && pf::GetVolumeFlags(root, &flags) &&
                        !(flags & FILE_PERSISTENT_ACLS));
  unsigned open = 0;
  if (secure && !ChainClosed(special, folder, &open) && (open & 6) != 0) {
    const bool between = (open & 2) != 0;
    if (between || pf::MakeFolderAdminOnly(folder) != 1) {
      if (record != nullptr) record->Stay(folder, between ? StayReason::kOpenFolder : StayReason::kNotTaken, false);
      return 0;
    }
  }
  if (IsStillInPlace(folder, seen) && pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    if (record != nullptr) record->Handed(folder);
    return result;
  }
  if (record != nullptr) record->Stay(folder, StayReason::kRefused, false);
  return 0;
}

int RemoveOrScheduleFolderBelow(const char* special, const char* folder, RunRecord* record) {
  if (IsLink(pf::GetFileAttributesA(folder))) return pf::RemoveDirectoryA(folder) ? 1 : 0;
  if (pf::GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) return 1;  // nothing there: nothing to hand over
  FolderSeen seen;
  pf::FileIdentity identity;
  return SeeFolder(special, folder, &seen, &identity) ? RemoveOrSchedule(special, folder, seen, 1, nullptr, record)
                                                      : 0;
}

int EmptyAndRemoveFolderBelow(const char* special, const char* folder, RunRecord* record) {
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
  DeletedNames deleted;
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
      if (pf::DeleteFileA(entry)) {
        deleted.Add(data.cFileName);
        continue;
      }
      char ownPath[MAX_PATH] = {};
      pf::GetModuleFileNameA(nullptr, ownPath, MAX_PATH);
      if (std::strcmp(entry, ownPath) != 0) HandFile(special, entry, record);
    } while (pf::FindNextFileA(find.Get(), &data));
  }
  pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_NORMAL);
  return RemoveOrSchedule(special, folder, seen, result, &deleted, record);
}
