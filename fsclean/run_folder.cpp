#include "fsclean/run_folder.h"

#include <cstring>

#include "fsclean/leftovers.h"
#include "fsclean/paths.h"
#include "fsclean/security.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/loader.h"
#include "platform/mbstring.h"
#include "platform/shell.h"

namespace {

// The restart works as SYSTEM and follows a link it finds at any component of
// a scheduled name: what it is handed lies inside a folder only administrators
// can write to (the Windows folder, else Program Files), on the volume of what
// it holds, so that no other account can make it first, take it, rename it or
// link anything into it.
constexpr char kRunFolderName[] = "\\Brannoch.pending";
// Names tried when one is there but not the run's to trust: ".2" to ".16".
constexpr unsigned kRunFolderNames = 16;
// Inside it, the uninstallers' TEMP.
constexpr char kRunTempName[] = "\\Temp";

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// The root of path's volume, with its backslash; false for a path without a
// drive letter or a root that does not fit.
bool VolumeRootOf(const char* path, char* root, DWORD cap) {
  if (path[0] == '\0' || path[1] != ':') return false;
  const BOOL ok = pf::GetVolumePathNameA(path, root, cap);
  const size_t n = ok ? std::strlen(root) : 0;
  return n >= 3 && n < cap && root[n - 1] == '\\';
}

// The index-th name of the run's folder in parent ("", ".2", ... ".16").
bool RunFolderName(char* out, size_t cap, const char* parent, unsigned index, const char* below = "") {
  char suffix[8] = {};
  if (index > 0) {
    const unsigned n = index + 1;
    suffix[0] = '.';
    if (n >= 10) suffix[1] = static_cast<char>('0' + n / 10);
    suffix[n >= 10 ? 2 : 1] = static_cast<char>('0' + n % 10);
  }
  char name[MAX_PATH];
  return ComposePath(name, sizeof name, parent, kRunFolderName, suffix) && ComposePath(out, cap, name, below);
}

// What the folder at path is to the run: 1 usable, 0 there but not to be
// trusted, -1 missing (and not made). One made now, with its descriptor at
// creation, is the run's by construction, and so is one record says this run
// made: nothing but an administrator could have replaced either.
int HaveFolder(const char* folder, bool make, RunRecord* record) {
  const DWORD attributes = pf::GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!make || pf::CreateAdminOnlyFolder(folder) != 1) return -1;
    pf::SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN);
    if (record != nullptr) record->Made(folder);
    return 1;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) return 0;
  return (record != nullptr && record->WasMade(folder)) || OnlyAdministratorsChange(folder) ? 1 : 0;
}

// The parents the run's folders lie in on the volume at root: the Windows
// folder and Program Files, each "" when not on it.
void ParentsOn(const char* root, char (*parents)[MAX_PATH]) {
  const UINT n = pf::GetSystemWindowsDirectoryA(parents[0], MAX_PATH);
  if (n == 0 || n >= MAX_PATH) parents[0][0] = '\0';
  if (!pf::SHGetSpecialFolderPathA(nullptr, parents[1], CSIDL_PROGRAM_FILES, FALSE)) parents[1][0] = '\0';
  for (int i = 0; i < 2; ++i) {
    char parentRoot[MAX_PATH] = {};
    if (!VolumeRootOf(parents[i], parentRoot, MAX_PATH) || pf::MbsICmp(parentRoot, root) != 0) parents[i][0] = '\0';
  }
}

}  // namespace

bool OnlyAdministratorsChange(const char* path) {
  DWORD descriptor[128];  // an ordinary folder's takes a few hundred bytes
  const long n = pf::GetItemSecurity(path, true, descriptor, sizeof descriptor);
  return n > 0 && !LetsOthersChange(descriptor, static_cast<size_t>(n));
}

RunFolder RunFolderFor(const char* path, char* folder, size_t cap, bool make, RunRecord* record) {
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
  ParentsOn(root, parents);
  for (const char* parent : parents) {
    for (unsigned i = 0; parent[0] != '\0' && i < kRunFolderNames; ++i) {
      // One found is taken only when it is what the run would have made: an
      // account that may write beside it (Power Users on XP) may have made it.
      if (RunFolderName(folder, cap, parent, i) && HaveFolder(folder, make, record) == 1) return RunFolder::kReady;
    }
  }
  folder[0] = '\0';
  return RunFolder::kNone;
}

RunFolder RunTempFolderFor(const char* pathOnVolume, char* folder, size_t cap, RunRecord* record) {
  char run[MAX_PATH];
  const RunFolder kind = RunFolderFor(pathOnVolume, run, sizeof run, true, record);
  if (kind != RunFolder::kReady) return kind;
  return ComposePath(folder, cap, run, kRunTempName) && HaveFolder(folder, true, record) == 1 ? kind
                                                                                                 : RunFolder::kNone;
}

namespace {
// What the run's folder holds is handed over whole, deepest first: the
// moved-aside files, and what the uninstallers left in their TEMP. Files
// handed over are marked hidden, so that each is scheduled once; a hidden
// file is still deleted when it can be (an uninstaller may leave one).
constexpr int kMaxRunFolderDepth = 8;

// One pass over folder and what it holds. mark false: deletes what can go
// now, schedules the rest (each unmarked file, then each folder after its
// contents when anything in it was scheduled); mark true: marks the files
// scheduled. A link found inside is removed itself, never scheduled (the
// restart would follow it). True when anything was scheduled now;
// *refused when a scheduling was refused.
bool PassOverRunFolder(const char* folder, bool mark, int depth, bool* refused) {
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
    } else if (a & FILE_ATTRIBUTE_HIDDEN) {
      // Marked: scheduled by an earlier pass (or hidden by an uninstaller,
      // which the deletion does not mind); goes now where it can.
      pf::DeleteFileA(entry);
    } else {
      pf::SetFileAttributesA(entry, FILE_ATTRIBUTE_NORMAL);
      if (pf::DeleteFileA(entry)) continue;
      any = true;
      if (!pf::MoveFileExA(entry, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) *refused = true;
    }
  } while (pf::FindNextFileA(find.Get(), &data));
  return any;
}

void HandOver(const char* folder, RunRecord* record) {
  bool refused = false;
  const bool any = PassOverRunFolder(folder, false, 0, &refused);
  if (pf::RemoveDirectoryA(folder)) return;  // nothing was left in it
  // The folder after everything in it, then the marks: a run ended before
  // the last mark leaves the next run to schedule the rest and the folder
  // again; a refusal leaves all of it to the next run.
  if (any && pf::MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && !refused) {
    PassOverRunFolder(folder, true, 0, &refused);
    return;
  }
  if ((any || refused) && record != nullptr) record->Stay(folder, StayReason::kRefused, false);
}
}  // namespace

void ScheduleRunFolders(const char* pathOnVolume, RunRecord* record) {
  char root[MAX_PATH] = {};
  DWORD flags = 0;
  if (!VolumeRootOf(pathOnVolume, root, MAX_PATH) || !pf::GetVolumeFlags(root, &flags) ||
      !(flags & FILE_PERSISTENT_ACLS))
    return;
  char parents[2][MAX_PATH] = {};
  ParentsOn(root, parents);
  for (const char* parent : parents) {
    for (unsigned i = 0; parent[0] != '\0' && i < kRunFolderNames; ++i) {
      char folder[MAX_PATH];
      // Only a folder the run would have made: another's is not touched.
      if (RunFolderName(folder, sizeof folder, parent, i) && HaveFolder(folder, false, record) == 1)
        HandOver(folder, record);
    }
  }
}
