// The platform seam answered by the simulated machine.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <vector>

#include "platform/files.h"
#include "platform/loader.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/sim/machine.h"

using sim::Machine;
using HO = Machine::HandleObj;

namespace {
Machine& M() { return Machine::Current(); }

template <typename T>
T Fail(DWORD error, T result) {
  M().lastError = error;
  return result;
}
// Every call counts and may be where the program is ended.
#define SEAM(...) M().Enter(__VA_ARGS__)
#define FAULT(name, result) \
  if (M().ShouldFail(name)) return Fail(ERROR_GEN_FAILURE, result)

uintptr_t H(HANDLE h) { return reinterpret_cast<uintptr_t>(h); }
HANDLE ToHandle(uintptr_t v) { return reinterpret_cast<HANDLE>(v); }

UINT CopyOut(const std::string& s, char* buffer, UINT size) {
  if (s.size() + 1 > size) return static_cast<UINT>(s.size() + 1);
  std::memcpy(buffer, s.c_str(), s.size() + 1);
  return static_cast<UINT>(s.size());
}

// Both on one volume: the same mount point or drive root, links followed.
bool SameVolume(const std::string& a, const std::string& b) {
  return M().Fold(M().VolumeRoot(M().Resolve(a, true))) == M().Fold(M().VolumeRoot(M().Resolve(b, true)));
}

// A missing name: ERROR_FILE_NOT_FOUND in an existing folder, else (or when the
// name ends in a separator) ERROR_PATH_NOT_FOUND.
DWORD MissingError(const char* path) {
  const std::string full = M().FullPath(path);
  if (!full.empty() && full.back() == '\\' && M().Normalize(full) != full) return ERROR_PATH_NOT_FOUND;
  const Machine::Node* parent = M().FindNode(M().Parent(M().Normalize(path)));
  return parent != nullptr && parent->dir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}


// The host's converter for a Windows code page, or null when the simulated
// system lacks the code page.
const char* IconvName(UINT codePage) {
  if (M().codePages.count(codePage) == 0) return nullptr;
  switch (codePage) {
    case 437: return "CP437";
    case 936: return "CP936";
    case 950: return "CP950";
    case 1252: return "CP1252";
    case 65001: return "UTF-8";
    default: return nullptr;
  }
}

// The descriptors this thread opened, kept: each iconv_open loads the
// converter's module again once the last descriptor is closed.
struct Converters {
  std::map<std::pair<std::string, std::string>, iconv_t> open;
  ~Converters() {
    for (const auto& c : open)
      if (c.second != reinterpret_cast<iconv_t>(-1)) iconv_close(c.second);
  }
};

// One character's bytes converted with iconv; false when it does not convert.
bool IconvOne(const char* to, const char* from, const std::string& in, std::string* out) {
  thread_local Converters converters;
  const auto key = std::make_pair(std::string(to), std::string(from));
  auto it = converters.open.find(key);
  if (it == converters.open.end()) it = converters.open.emplace(key, iconv_open(to, from)).first;
  iconv_t cd = it->second;
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // the initial shift state
  std::string src = in;
  char buf[16];
  char* inp = &src[0];
  char* outp = buf;
  size_t inLeft = src.size(), outLeft = sizeof buf;
  const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  if (ok) out->assign(buf, sizeof buf - outLeft);
  return ok;
}

// Length of the character that starts at s[i] in the code page: the longest
// prefix (up to 4 bytes) that converts.
size_t CharLength(const char* name, const std::string& s, size_t i, std::string* utf16) {
  for (size_t n = 1; n <= 4 && i + n <= s.size(); ++n)
    if (IconvOne("UTF-16LE", name, s.substr(i, n), utf16)) return n;
  return 0;
}

// SIDs laid out as Windows does: the service accounts' S-1-5-18, -19, -20 (Microsoft's
// "Well-known security identifiers", KB 243330), any other S-1-5-21-RID, a RID of its own,
// so "CORP\\alice" and this machine's "alice" differ ("Security identifiers": the domain
// is part of the SID); a name is one account whatever the case of its letters.
const char* const kServiceAccounts[3] = {"SYSTEM", "LOCAL SERVICE", "NETWORK SERVICE"};
struct SimSid {
  BYTE revision, count, authority[6];
  uint32_t sub[2];
};
SimSid SidOf(const std::string& owner) {
  auto& a = M().accounts;
  auto at = std::find_if(a.begin(), a.end(), [&](const std::string& n) { return M().Fold(n) == M().Fold(owner); });
  if (at == a.end()) at = a.insert(a.end(), owner);
  for (uint32_t i = 0; i < 3; ++i)
    if (owner == kServiceAccounts[i]) return {1, 1, {0, 0, 0, 0, 0, 5}, {18 + i, 0}};
  return {1, 2, {0, 0, 0, 0, 0, 5}, {21, static_cast<uint32_t>(1000 + (at - a.begin()))}};
}
const HWND kShellWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7001));

// A started process: it joins its starter's jobs and, when run, does its work.
DWORD Start(sim::Launch launch, const std::string& detail, bool run) {
  M().Record(launch.how, launch.file, detail);
  const DWORD pid = M().AddProcess(launch.file, M().userName);
  if (sim::Process* self = M().FindProcess(M().currentPid)) M().FindProcess(pid)->jobs = self->jobs;
  if (run) launch.endMs = M().RunProgram(pid);
  M().launches.push_back(launch);
  return pid;
}

// A handle to the process, or to its thread, whose launch (pos) the resumption ends.
HANDLE NewHandleTo(DWORD pid, HO::Kind kind) {
  HO obj(kind);
  obj.pid = pid;
  obj.access = kProcessAllAccessNt4;
  obj.pos = M().launches.size() - 1;
  return ToHandle(M().NewHandle(obj));
}
}  // namespace

namespace pf {

// ---- registry ---------------------------------------------------------------
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD, REGSAM access, HKEY* result) {
  SEAM("RegOpenKeyExA");
  FAULT("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  *result = nullptr;
  if (root != HKEY_LOCAL_MACHINE || subKey == nullptr) return ERROR_INVALID_HANDLE;
  M().keyOpens.emplace_back(subKey, access);
  Machine::Key* key = M().FindKey(subKey);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  if (key->denyAllAccess && (access & ~static_cast<REGSAM>(KEY_READ)) != 0) return ERROR_ACCESS_DENIED;
  HO obj(HO::kKey);
  obj.keyPath = key->path;
  obj.access = access;
  *result = reinterpret_cast<HKEY>(M().NewHandle(obj));
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
  SEAM("RegDeleteValueA");
  FAULT("RegDeleteValueA", ERROR_ACCESS_DENIED);
  HO* h = M().GetHandle(reinterpret_cast<uintptr_t>(key), HO::kKey);
  if (h == nullptr) return ERROR_INVALID_HANDLE;
  if ((h->access & 0x2) == 0) return ERROR_ACCESS_DENIED;  // KEY_SET_VALUE
  Machine::Key* k = M().FindKey(h->keyPath);
  if (k == nullptr) return ERROR_FILE_NOT_FOUND;
  auto it = k->values.find(M().Fold(valueName));
  if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
  M().Record("RegDeleteValue", k->path + "\\" + it->second.first);
  k->values.erase(it);
  return ERROR_SUCCESS;
}

// True when the folded key path lies strictly below the folded key `parent`.
static bool IsBelowKey(const std::string& key, const std::string& parent) {
  return key.size() > parent.size() && key.compare(0, parent.size(), parent) == 0 && key[parent.size()] == '\\';
}

static bool HasSubkeys(const std::string& folded) {
  for (const auto& kv : M().keys)
    if (IsBelowKey(kv.first, folded)) return true;
  return false;
}

LONG RegDeleteKeyA(HKEY root, const char* subKey) {
  SEAM("RegDeleteKeyA");
  FAULT("RegDeleteKeyA", ERROR_ACCESS_DENIED);
  if (root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  const std::string folded = M().Fold(subKey);
  auto it = M().keys.find(folded);
  if (it == M().keys.end()) return ERROR_FILE_NOT_FOUND;
  if (HasSubkeys(folded)) return ERROR_ACCESS_DENIED;  // as on NT
  M().Record("RegDeleteKey", it->second.path);
  M().keys.erase(it);
  return ERROR_SUCCESS;
}

LONG SHDeleteKeyA(HKEY root, const char* subKey) {
  SEAM("SHDeleteKeyA");
  FAULT("SHDeleteKeyA", ERROR_ACCESS_DENIED);
  if (root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  const std::string folded = M().Fold(subKey);
  auto it = M().keys.find(folded);
  if (it == M().keys.end()) return ERROR_FILE_NOT_FOUND;
  M().Record("RegDeleteTree", it->second.path);
  for (auto k = M().keys.begin(); k != M().keys.end();) {
    const bool inside = k->first == folded || IsBelowKey(k->first, folded);
    k = inside ? M().keys.erase(k) : std::next(k);
  }
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) {
  SEAM("RegQueryValueExA");
  FAULT("RegQueryValueExA", ERROR_ACCESS_DENIED);
  HO* h = M().GetHandle(reinterpret_cast<uintptr_t>(key), HO::kKey);
  if (h == nullptr || size == nullptr) return ERROR_INVALID_HANDLE;
  // Only the restart list is read: each name, then an empty new name for a deletion.
  if (M().Fold(h->keyPath) != M().Fold(Machine::kSessionManagerKey) || valueName == nullptr) return ERROR_FILE_NOT_FOUND;
  const auto raw = M().restartValues.find(valueName);
  std::string bytes;
  if (raw != M().restartValues.end()) {
    bytes = raw->second.second;
  } else {
    if (M().Fold(valueName) != M().Fold("PendingFileRenameOperations") || M().restartQueue.empty())
      return ERROR_FILE_NOT_FOUND;
    for (const std::string& path : M().restartQueue) bytes += "\\??\\" + path + std::string(2, '\0');
    bytes += '\0';
  }
  if (type != nullptr) *type = raw != M().restartValues.end() ? raw->second.first : REG_MULTI_SZ;
  const DWORD need = static_cast<DWORD>(bytes.size());
  const bool fits = data == nullptr || *size >= need;
  if (data != nullptr && fits) std::memcpy(data, bytes.data(), need);
  *size = need;
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LONG RegCloseKey(HKEY key) {
  SEAM("RegCloseKey", false);
  return M().CloseHandleValue(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// ---- files ------------------------------------------------------------------
BOOL DeleteFileA(const char* path) {
  SEAM("DeleteFileA");
  FAULT("DeleteFileA", FALSE);
  Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), FALSE);
  if (n->dir || (n->attributes & FILE_ATTRIBUTE_READONLY) || n->deleteDenied) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (M().Fold(n->path) == M().Fold(M().Normalize(M().modulePath))) return Fail(ERROR_ACCESS_DENIED, FALSE);
  // A mapped module (movable) is refused as access denied, an open file as shared.
  if (n->locked) return Fail(n->lockMovable ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION, FALSE);
  if (n->deletePending) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (n->heldBy != 0 && !n->shareDelete) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  M().Record("DeleteFile", n->path);
  if (n->heldBy != 0 && !M().posixDelete) n->deletePending = true;
  else M().nodes.erase(M().Fold(n->path));
  return TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
  SEAM("RemoveDirectoryA");
  FAULT("RemoveDirectoryA", FALSE);
  Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), FALSE);
  if (!n->dir || n->path.size() <= 3) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if ((n->attributes & FILE_ATTRIBUTE_READONLY) || n->deleteDenied) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!M().Children(n->path).empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
  M().Record("RemoveDirectory", n->path);
  M().nodes.erase(M().Fold(n->path));
  return TRUE;
}

// path is folder or lies below it; separators found code-page aware.
static bool IsInside(const std::string& path, const std::string& folder) {
  const std::string key = M().Fold(folder);
  for (std::string p = path; !p.empty(); p = M().Parent(p))
    if (M().Fold(p) == key) return true;
  return false;
}

BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags) {
  SEAM("MoveFileExA");
  FAULT("MoveFileExA", FALSE);
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (newName != nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);  // not used here
    // An existing source is opened for DELETE first (ReactOS's
    // MoveFileWithProgressW; Wine 8 writes every request).
    if (M().FindNode(existing) != nullptr && M().FindNode(existing)->deleteDenied) return Fail(ERROR_ACCESS_DENIED, FALSE);
    const std::string n = M().Normalize(existing);
    M().restartQueue.push_back(n);
    M().Record("ScheduleDelete", n);
    return TRUE;
  }
  if (newName == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Machine::Node* src = M().FindNode(existing);
  if (src == nullptr) return Fail(MissingError(existing), FALSE);
  const std::string to = M().Resolve(M().Normalize(newName), false);
  if (!SameVolume(src->path, to) && !(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
  if (src->locked && !src->lockMovable) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (src->deletePending) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (src->heldBy != 0 && !src->shareDelete) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (src->deleteDenied) return Fail(ERROR_ACCESS_DENIED, FALSE);  // a rename needs DELETE
  Machine::Node* parent = M().FindNode(M().Parent(to));
  if (parent == nullptr || !parent->dir) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  // A folder moves with everything in it, on its own volume only, never into itself.
  if (src->dir && !SameVolume(src->path, to)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  const std::string from = src->path;
  const std::string fromKey = M().Fold(from);
  const std::string toKey = M().Fold(to);
  // Into itself: 87 from Windows 11 22H2, ERROR_SHARING_VIOLATION (32) before
  // (the rename opened the target folder without sharing deletion: MS-FSA
  // 2.1.5.15.11; python/cpython#120883).
  if (src->dir && toKey != fromKey && IsInside(to, from)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Machine::Node* dst = M().FindNode(to);
  if (dst != nullptr && M().Fold(dst->path) != fromKey) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    // An existing file is replaced by a file or a folder alike; an existing
    // folder, a read-only file (without FILE_RENAME_IGNORE_READONLY_ATTRIBUTE:
    // Wine's ntdll/tests/file.c, test_file_rename_information_ex) and an open
    // one are never replaced.
    if (dst->dir || (dst->attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (dst->locked) return Fail(ERROR_ACCESS_DENIED, FALSE);
    M().nodes.erase(M().Fold(dst->path));
  }
  M().Record("MoveFile", from, to);
  std::vector<Machine::Node> moved;
  for (auto it = M().nodes.begin(); it != M().nodes.end();) {
    if (!IsInside(it->second.path, from)) {
      ++it;
      continue;
    }
    moved.push_back(it->second);
    moved.back().path = to + it->second.path.substr(from.size());
    it = M().nodes.erase(it);
  }
  for (const Machine::Node& n : moved) M().nodes[M().Fold(n.path)] = n;
  return TRUE;
}

BOOL SetFileAttributesA(const char* path, DWORD attributes) {
  SEAM("SetFileAttributesA");
  FAULT("SetFileAttributesA", FALSE);
  Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), FALSE);
  n->attributes = (attributes == FILE_ATTRIBUTE_NORMAL) ? 0 : (attributes & ~FILE_ATTRIBUTE_DIRECTORY);
  char detail[16];
  std::snprintf(detail, sizeof detail, "0x%X", attributes);
  M().Record("SetFileAttributes", n->path, detail);
  return TRUE;
}

DWORD GetFileAttributesA(const char* path) {
  SEAM("GetFileAttributesA");
  FAULT("GetFileAttributesA", INVALID_FILE_ATTRIBUTES);
  const Machine::Node* n = M().FindNode(path);
  if (n != nullptr && n->deletePending) return Fail(ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES);
  const DWORD a = M().Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) M().lastError = MissingError(path);
  return a;
}

static void FillFind(const std::pair<std::string, DWORD>& e, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = e.second;
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", e.first.c_str());
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  SEAM("FindFirstFileA");
  FAULT("FindFirstFileA", INVALID_HANDLE_VALUE);
  std::string p = pattern;
  if (p.size() < 2 || p.compare(p.size() - 2, 2, "\\*") != 0) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  const std::string dir = M().Normalize(p.substr(0, p.size() - 2));
  Machine::Node* n = M().FindNode(M().Resolve(dir, true));
  if (n == nullptr || !n->dir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  HO obj(HO::kFind);
  if (n->path.size() > 3) {
    obj.entries.emplace_back(".", FILE_ATTRIBUTE_DIRECTORY);
    obj.entries.emplace_back("..", FILE_ATTRIBUTE_DIRECTORY);
  }
  for (const std::string& key : M().Children(n->path)) {
    const Machine::Node& c = M().nodes[key];
    obj.entries.emplace_back(M().Leaf(c.path), M().Attributes(c.path));
  }
  if (obj.entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  FillFind(obj.entries[0], data);
  obj.pos = 1;
  return ToHandle(M().NewHandle(obj));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  SEAM("FindNextFileA");
  FAULT("FindNextFileA", FALSE);
  HO* h = M().GetHandle(H(find), HO::kFind);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (h->pos >= h->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  FillFind(h->entries[h->pos++], data);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  SEAM("FindClose", false);
  if (M().GetHandle(H(find), HO::kFind) == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return M().CloseHandleValue(H(find));
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer) {
  SEAM("GetTempPathA");
  FAULT("GetTempPathA", 0u);
  return CopyOut(M().tempPath, buffer, bufferLength);
}

UINT GetTempFileNameA(const char* pathName, const char* prefix, UINT unique, char* tempFileName) {
  SEAM("GetTempFileNameA");
  FAULT("GetTempFileNameA", 0u);
  // The folder must exist, whatever the number (dotnet/runtime#74855: the
  // check comes first; Wine's GetTempFileNameW makes it too). A number given:
  // the name is only formed, nothing is created, an existing file included.
  Machine::Node* dir = M().FindNode(pathName);
  if (dir == nullptr || !dir->dir) return Fail(267u /* ERROR_DIRECTORY */, 0u);
  const UINT number = unique != 0 ? (unique & 0xFFFF) : (++M().tempCounter & 0xFFFF);
  char leaf[32];
  std::snprintf(leaf, sizeof leaf, "%.3s%X.tmp", prefix, number);
  std::string name = M().Normalize(pathName);  // as given, case kept
  if (name.back() != '\\') name += "\\";
  name += leaf;
  if (name.size() >= MAX_PATH) return Fail(111u /* ERROR_BUFFER_OVERFLOW */, 0u);
  std::memcpy(tempFileName, name.c_str(), name.size() + 1);
  if (unique != 0) return number;
  M().AddFile(name);
  M().Record("CreateFile", name);
  return number;
}

long GetFinalPathOfFolder(const char* path, char* buffer, DWORD bufferLength) {
  SEAM("GetFinalPathOfFolder");
  if (!M().hasGetFinalPathNameByHandle) return kMissing;
  const Machine::Node* n = M().FindNode(M().Resolve(M().Normalize(path), true));
  if (n == nullptr || !n->dir) return Fail(MissingError(path), 0L);
  return static_cast<long>(CopyOut("\\\\?\\" + n->path, buffer, bufferLength));
}

int GetFileIdentity(const char* path, FileIdentity* identity) {
  SEAM("GetFileIdentity");
  FAULT("GetFileIdentity", 0);
  if (M().platformId != VER_PLATFORM_WIN32_NT) return kMissing;  // no folder opens as a file on 9x
  const Machine::Node* n = M().FindNode(path);  // a link at the name itself is not followed
  if (n == nullptr) return Fail(MissingError(path), 0);
  identity->volume = static_cast<DWORD>(std::hash<std::string>()(M().Fold(M().VolumeRoot(n->path))));
  identity->indexHigh = static_cast<DWORD>(n->id >> 32);
  identity->indexLow = static_cast<DWORD>(n->id);
  identity->attributes = M().Attributes(n->path);
  return 1;
}

// The deepest folder with a volume mounted on it, else the drive's root
// (learn.microsoft.com GetVolumePathNameW).
BOOL GetVolumePathNameA(const char* path, char* root, DWORD rootLength) {
  SEAM("GetVolumePathNameA");
  FAULT("GetVolumePathNameA", FALSE);
  const std::string n = M().Normalize(path);
  if (n.size() < 3 || n[1] != ':') return Fail(ERROR_INVALID_NAME, FALSE);
  if (CopyOut(M().VolumeRoot(n), root, rootLength) >= rootLength) return Fail(206u /* ERROR_FILENAME_EXCED_RANGE */, FALSE);
  return TRUE;
}

int CreateAdminOnlyFolder(const char* path) {
  SEAM("CreateAdminOnlyFolder");
  FAULT("CreateAdminOnlyFolder", 0);
  if (M().platformId != VER_PLATFORM_WIN32_NT) return kMissing;
  if (M().FindNode(path) != nullptr) return Fail(ERROR_ALREADY_EXISTS, 0);
  const std::string n = M().Resolve(M().Normalize(path), false);
  const Machine::Node* parent = M().FindNode(M().Parent(n));
  if (parent == nullptr || !parent->dir) return Fail(ERROR_PATH_NOT_FOUND, 0);
  M().AddDir(n);
  M().FindNode(n)->adminOnly = true;
  M().Record("CreateDirectory", n);
  return 1;
}

// Set through the folder's own handle, a link at the name refused
// (FILE_FLAG_OPEN_REPARSE_POINT); what it holds is not touched
// (SetKernelObjectSecurity propagates nothing: Microsoft's page on it).
int MakeFolderAdminOnly(const char* path) {
  SEAM("MakeFolderAdminOnly");
  FAULT("MakeFolderAdminOnly", 0);
  if (M().platformId != VER_PLATFORM_WIN32_NT) return kMissing;
  Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), 0);
  if (!n->dir || !n->linkTo.empty() || (n->attributes & FILE_ATTRIBUTE_REPARSE_POINT) || n->notOwnable)
    return Fail(ERROR_ACCESS_DENIED, 0);
  n->adminOnly = true;
  n->owner.clear();
  M().Record("SetSecurity", n->path, "admin-only");
  return 1;
}

// FAT keeps no security: its volumes report no FILE_PERSISTENT_ACLS
// (Microsoft's GetVolumeInformation page; Wine's kernel32 volume tests).
BOOL GetVolumeFlags(const char* root, DWORD* flags) {
  SEAM("GetVolumeFlags");
  FAULT("GetVolumeFlags", FALSE);
  const std::string n = M().Normalize(root != nullptr ? root : M().currentDir);  // null: the current folder's
  if (M().FindNode(n) == nullptr) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  bool acls = M().platformId == VER_PLATFORM_WIN32_NT;
  for (const std::string& fat : M().volumesWithoutAcls)
    acls = acls && M().Fold(fat) != M().Fold(M().VolumeRoot(n));
  *flags = FILE_CASE_PRESERVED_NAMES | (acls ? FILE_PERSISTENT_ACLS : 0);
  return TRUE;
}

UINT GetSystemWindowsDirectoryA(char* buffer, UINT size) {
  SEAM("GetSystemWindowsDirectoryA");
  FAULT("GetSystemWindowsDirectoryA", 0u);
  return CopyOut(M().windowsDir, buffer, size);
}

// A variable's name: up to the first '=' after its first character ("=C:" is one).
static std::string VariableName(const std::string& entry) { return M().Fold(entry.substr(0, entry.find('=', 1))); }

// With no token and nothing inherited, "system variables only" (Microsoft's
// page; Wine's userenv tests: a variable the caller set is absent), but
// SystemRoot the caller's (the same tests on Windows: "SystemRoot=overwrite";
// Wine 8 takes SystemDrive so too). UTF-16.
BOOL CreateEnvironmentBlock(void** block) {
  SEAM("CreateEnvironmentBlock");
  FAULT("CreateEnvironmentBlock", FALSE);
  std::u16string units;
  for (std::string e : M().systemEnvironment) {
    for (const std::string& own : M().environment)
      if (VariableName(e) == "systemroot" && VariableName(own) == "systemroot") e = own;
    units.append(e.begin(), e.end()) += u'\0';
  }
  *block = &M().environmentBlocks.emplace_back(units + u'\0')[0];
  return TRUE;
}
void DestroyEnvironmentBlock(void* block) {
  SEAM("DestroyEnvironmentBlock", false);
  M().environmentBlocks.remove_if([&](const std::u16string& b) { return b.data() == block; });
}
BOOL SetEnvironmentVariableA(const char* name, const char* value) {
  SEAM("SetEnvironmentVariableA");
  FAULT("SetEnvironmentVariableA", FALSE);
  auto& env = M().environment;
  env.erase(std::remove_if(env.begin(), env.end(), [&](const std::string& e) { return VariableName(e) == M().Fold(name); }),
            env.end());
  env.push_back(std::string(name) + "=" + value);
  return TRUE;
}
int RunsElevated() {  // as the token says (TOKEN_ELEVATION, CheckTokenMembership)
  SEAM("RunsElevated");
  FAULT("RunsElevated", kMissing);
  return M().elevation;
}

namespace {
std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
// A SID as the system lays it out: revision, count, authority (5: NT), sub-authorities.
std::string Sid(std::initializer_list<uint32_t> subs, char authority = 5) {
  std::string sid = {1, static_cast<char>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (uint32_t v : subs) sid += Le32(v);
  return sid;
}
// The self-relative descriptor (owner, DACL) Windows gives for the node, laid
// out as SECURITY_DESCRIPTOR_RELATIVE, ACL and ACCESS_ALLOWED_ACE (winnt.h):
// XP's Program Files lets Power Users modify; Vista's lets others read only.
std::string Descriptor(const Machine::Node& n) {
  const std::string admins = Sid({32, 544}), installer = Sid({80, 956008885u, 3418522649u, 1831038044u,
                                                              1853292631u, 2271478464u});
  const std::string owner = n.owner == "SY" ? Sid({18}) : n.owner == "TI" ? installer
                            : n.owner == "user" ? Sid({21, 1, 2, 3, 1001}) : admins;
  std::string acl;
  char count = 0;
  const auto ace = [&](char flags, uint32_t mask, const std::string& who) {
    acl += std::string{0, flags, static_cast<char>(8 + who.size()), 0} + Le32(mask) + who;
    ++count;
  };
  const char inherit = n.dir ? 0x03 : 0;  // OBJECT_INHERIT | CONTAINER_INHERIT
  ace(inherit, 0x1F01FF, Sid({18}));
  ace(inherit, 0x1F01FF, admins);
  if (!n.adminOnly) {
    ace(inherit, 0x1200A9, Sid({32, 545}));                 // Users: read and execute
    if (n.dir) ace(0x0B, 0x10000000, Sid({0}, 3));          // CREATOR OWNER: GENERIC_ALL, inherit-only
    if (n.closed) ace(inherit, 0x1F01FF, installer);
    else ace(inherit, n.deleteDenied ? 0x1200A9 : 0x1301BF, Sid({32, 547}));  // Power Users: modify
  }
  const size_t aclSize = 8 + acl.size();
  const uint16_t control = 0x8000 | (n.nullDacl ? 0 : 0x0004) | (n.adminOnly ? 0x1000 : 0);
  return std::string{1, 0, static_cast<char>(control), static_cast<char>(control >> 8)} + Le32(20) + Le32(0) +
         Le32(0) + Le32(n.nullDacl ? 0 : static_cast<uint32_t>(20 + owner.size())) + owner +
         (n.nullDacl ? "" : std::string{2, 0, static_cast<char>(aclSize), static_cast<char>(aclSize >> 8), count, 0, 0, 0} + acl);
}
}  // namespace

// Read through the entry's own handle, a link at the name refused
// (FILE_FLAG_OPEN_REPARSE_POINT; GetKernelObjectSecurity gives the
// self-relative form: Microsoft's page on it).
long GetItemSecurity(const char* path, bool folder, void* buffer, DWORD size) {
  SEAM("GetItemSecurity");
  FAULT("GetItemSecurity", 0L);
  if (M().platformId != VER_PLATFORM_WIN32_NT) return kMissing;
  const Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), 0L);
  if (n->deletePending || n->dir != folder || !n->linkTo.empty() || (n->attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return Fail(ERROR_ACCESS_DENIED, 0L);
  const std::string sd = Descriptor(*n);
  if (sd.size() > size) return Fail(ERROR_INSUFFICIENT_BUFFER, 0L);
  std::memcpy(buffer, sd.data(), sd.size());
  return static_cast<long>(sd.size());
}

int MakeFileAdminOnly(const char* path) {
  SEAM("MakeFileAdminOnly");
  FAULT("MakeFileAdminOnly", 0);
  if (M().platformId != VER_PLATFORM_WIN32_NT) return kMissing;
  Machine::Node* n = M().FindNode(path);
  if (n == nullptr) return Fail(MissingError(path), 0);
  if (n->dir || n->deletePending || !n->linkTo.empty() || (n->attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      n->notOwnable)
    return Fail(ERROR_ACCESS_DENIED, 0);
  n->adminOnly = true;
  n->deleteDenied = false;
  n->owner.clear();
  M().Record("SetSecurity", n->path, "admin-only");
  return 1;
}

// Restart Manager lists the processes that hold the file (RmGetList); Wine's
// is a stub that lists none.
long WhoHoldsFile(const char* path, FileHolder* holders, unsigned capacity) {
  SEAM("WhoHoldsFile");
  if (M().restartManagerMissing) return kMissing;
  FAULT("WhoHoldsFile", -2L);
  const Machine::Node* n = M().FindNode(path);
  if (n == nullptr || n->heldBy == 0) return 0;
  const sim::Process* p = M().FindProcess(n->heldBy);
  if (p == nullptr) return 0;
  if (capacity > 0) {
    holders[0].pid = p->pid;
    holders[0].session = p->session;
    holders[0].kind = p->rmKind;
    const std::string& name = p->description.empty() ? p->exeFile : p->description;
    size_t i = 0;
    for (; i < name.size() && i + 1 < 64; ++i) holders[0].name[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
    holders[0].name[i] = 0;
  }
  return 1;
}

int IsAdminOnlyFolder(const char* path) {
  SEAM("IsAdminOnlyFolder");
  FAULT("IsAdminOnlyFolder", 0);
  const Machine::Node* n = M().FindNode(path);
  return n != nullptr && n->dir && n->linkTo.empty() && !(n->attributes & FILE_ATTRIBUTE_REPARSE_POINT) && n->adminOnly;
}

// Fails for a missing path (ERROR_FILE_NOT_FOUND); a name without a short
// form is its own long form (Microsoft's GetLongPathNameA page).
DWORD GetLongPathNameA(const char* path, char* buffer, DWORD bufferLength) {
  SEAM("GetLongPathNameA");
  FAULT("GetLongPathNameA", 0ul);
  const auto it = M().longNames.find(M().Fold(path));
  const std::string full = it != M().longNames.end() ? it->second : path;
  if (!M().Exists(full)) return Fail(MissingError(path), 0ul);
  return CopyOut(full, buffer, bufferLength);
}

DWORD GetFullPathNameA(const char* name, DWORD bufferLength, char* buffer, char** filePart) {
  FAULT("GetFullPathNameA", 0u);
  const std::string full = M().FullPath(name);
  if (full.empty()) return Fail(ERROR_INVALID_NAME, 0u);
  if (full.size() + 1 > bufferLength) return static_cast<DWORD>(full.size() + 1);
  std::memcpy(buffer, full.c_str(), full.size() + 1);
  if (filePart != nullptr) {
    const std::string leaf = M().Leaf(full);
    *filePart = leaf.empty() ? nullptr : buffer + full.size() - leaf.size();
  }
  return static_cast<DWORD>(full.size());
}

// ---- processes ----------------------------------------------------------------
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  SEAM("CreateToolhelp32Snapshot");
  FAULT("CreateToolhelp32Snapshot", INVALID_HANDLE_VALUE);
  if (flags != TH32CS_SNAPPROCESS) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  HO obj(HO::kSnapshot);
  for (const auto& p : M().processes) {
    if (!M().IsAlive(p.pid)) continue;
    PROCESSENTRY32 e;
    std::memset(&e, 0, sizeof e);
    e.th32ProcessID = p.pid;
    e.th32ParentProcessID = p.parentPid;
    // A name of 260 bytes or more arrives cut and without its zero.
    std::memcpy(e.szExeFile, p.exeFile.c_str(), std::min(p.exeFile.size() + 1, sizeof e.szExeFile));
    obj.snapshot.push_back(e);
  }
  return ToHandle(M().NewHandle(obj));
}

static BOOL NextEntry(HANDLE snapshot, PROCESSENTRY32* entry, bool first) {
  HO* h = M().GetHandle(H(snapshot), HO::kSnapshot);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  // microsoft/windows-rs#611, haskell/win32#14: ERROR_BAD_LENGTH (Wine: 122).
  if (entry->dwSize != sizeof(PROCESSENTRY32)) return Fail(24u /* ERROR_BAD_LENGTH */, FALSE);
  if (first) h->pos = 0;
  if (h->pos >= h->snapshot.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  const DWORD size = entry->dwSize;
  *entry = h->snapshot[h->pos++];
  entry->dwSize = size;
  return TRUE;
}

BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) {
  SEAM("Process32First");
  FAULT("Process32First", FALSE);
  return NextEntry(snapshot, entry, true);
}

BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
  SEAM("Process32Next");
  FAULT("Process32Next", FALSE);
  return NextEntry(snapshot, entry, false);
}

// The desktop user's processes, to another account: their DACL grants that user and SYSTEM;
// the enabled debug privilege grants any access whatever the DACL (Microsoft's OpenProcess page).
static bool ClosedToUs(const sim::Process& p) {
  const sim::Process* shell = M().FindProcess(M().shellPid);
  return shell && p.owner == shell->owner && p.owner != M().userName && !M().debugPrivilegeEnabled;
}

HANDLE OpenProcess(DWORD access, BOOL, DWORD processId) {
  SEAM("OpenProcess");
  FAULT("OpenProcess", static_cast<HANDLE>(nullptr));
  sim::Process* p = M().FindProcess(processId);
  if (p == nullptr || (!M().IsAlive(processId) && M().justJoined != std::make_pair(processId, M().clockMs)))
    return Fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  M().processOpens.emplace_back(p->exeFile, access);
  if (ClosedToUs(*p)) return Fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
  const bool wantsMore = (access & ~(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)) != 0;
  if (wantsMore && !p->canOpenAll) return Fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
  if (!wantsMore && !p->ownerReadable) return Fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
  HO obj(HO::kProcess);
  obj.pid = processId;
  obj.access = access;
  return ToHandle(M().NewHandle(obj));
}

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  SEAM("OpenProcessToken");
  FAULT("OpenProcessToken", FALSE);
  HO* h = M().GetHandle(H(process), HO::kProcess);
  if (h == nullptr || !(h->access & PROCESS_QUERY_INFORMATION)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!(access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  HO obj(HO::kToken);
  obj.pid = h->pid;
  *token = ToHandle(M().NewHandle(obj));
  return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, void* info, DWORD length,
                         DWORD* returnLength) {
  SEAM("GetTokenInformation");
  FAULT("GetTokenInformation", FALSE);
  HO* h = M().GetHandle(H(token), HO::kToken);
  if (h == nullptr || cls != TokenUser) return Fail(ERROR_INVALID_HANDLE, FALSE);
  const DWORD needed = sizeof(TOKEN_USER) + sizeof(SimSid);
  *returnLength = needed;
  if (length < needed || info == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  sim::Process* p = M().FindProcess(h->pid);
  if (p == nullptr) return Fail(ERROR_ACCESS_DENIED, FALSE);
  const SimSid sid = SidOf(p->owner);
  unsigned char* base = static_cast<unsigned char*>(info);
  std::memcpy(base + sizeof(TOKEN_USER), &sid, sizeof sid);
  TOKEN_USER user;
  user.User.Sid = base + sizeof(TOKEN_USER);
  user.User.Attributes = 0;
  std::memcpy(base, &user, sizeof user);
  return TRUE;
}

BOOL LookupAccountSidA(const char* systemName, PSID sid, char* name, DWORD* nameSize, char* domain,
                       DWORD* domainSize, int* use) {
  SEAM("LookupAccountSidA");
  FAULT("LookupAccountSidA", FALSE);
  if (systemName != nullptr || sid == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  SimSid s;
  std::memcpy(&s, sid, sizeof s);
  std::string account = s.count == 1 ? kServiceAccounts[s.sub[0] - 18] : M().accounts.at(s.sub[1] - 1000);
  const size_t slash = account.find('\\');
  const std::string dom = s.count == 1 ? "NT AUTHORITY" : slash == std::string::npos ? "SIMPC" : account.substr(0, slash);
  account.erase(0, slash == std::string::npos || s.count == 1 ? 0 : slash + 1);
  if (*nameSize <= account.size() || *domainSize <= dom.size()) {
    *nameSize = static_cast<DWORD>(account.size() + 1);
    *domainSize = static_cast<DWORD>(dom.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(name, account.c_str(), account.size() + 1);
  std::memcpy(domain, dom.c_str(), dom.size() + 1);
  *nameSize = static_cast<DWORD>(account.size());
  *domainSize = static_cast<DWORD>(dom.size());
  if (use != nullptr) *use = 1;
  return TRUE;
}

BOOL EqualSid(PSID a, PSID b) {  // byte for byte, as its page says: "must match exactly"
  SEAM("EqualSid");
  // The revision and the count of sub-authorities first: no more is read of a shorter SID.
  const BYTE* x = static_cast<const BYTE*>(a);
  const BYTE* y = static_cast<const BYTE*>(b);
  return x[0] == y[0] && x[1] == y[1] && std::memcmp(x, y, 8 + 4 * static_cast<size_t>(x[1])) == 0;
}

// Needs PROCESS_QUERY_INFORMATION on the process (Microsoft's ProcessIdToSessionId page);
// an id of no running process fails, as ReactOS's and Wine 8's open it first (probed).
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  SEAM("ProcessIdToSessionId");
  if (M().sessionCallMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("ProcessIdToSessionId", FALSE);
  const sim::Process* p = M().FindProcess(processId);
  if (p == nullptr || !M().IsAlive(processId)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!p->ownerReadable || ClosedToUs(*p)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  *sessionId = p->session;
  return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  SEAM("TerminateProcess");
  FAULT("TerminateProcess", FALSE);
  HO* h = M().GetHandle(H(process), HO::kProcess);
  if (h == nullptr || !(h->access & 0x1)) return Fail(ERROR_ACCESS_DENIED, FALSE);  // PROCESS_TERMINATE
  sim::Process* p = M().FindProcess(h->pid);
  if (p == nullptr || !M().IsAlive(p->pid)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!p->canTerminate) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (p->pid == M().currentPid) M().hangs += 1000;  // the program killed itself
  p->terminated = true;
  p->endAt = M().clockMs + p->exitDelayMs;
  M().Record("TerminateProcess", p->exeFile, std::to_string(exitCode));
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
  SEAM("WaitForSingleObject");
  FAULT("WaitForSingleObject", WAIT_FAILED);
  HO* h = M().GetHandle(H(handle), HO::kProcess);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  sim::Process* p = M().FindProcess(h->pid);
  if (p == nullptr || !M().IsAlive(p->pid)) return WAIT_OBJECT_0;
  if (p->terminated) {
    if (ms == INFINITE || p->endAt - M().clockMs <= ms) {
      M().clockMs = p->endAt;
      return WAIT_OBJECT_0;
    }
    M().clockMs += ms;
    return WAIT_TIMEOUT;
  }
  if (ms == INFINITE) {
    ++M().hangs;  // would never return on a real machine
    return WAIT_FAILED;
  }
  M().clockMs += ms;
  return WAIT_TIMEOUT;
}

DWORD GetCurrentProcessId() {
  SEAM("GetCurrentProcessId");
  return M().currentPid;
}

BOOL CloseHandle(HANDLE handle) {
  SEAM("CloseHandle", false);
  auto* m = &M();
  const uintptr_t v = H(handle);
  if (m->GetHandle(v, HO::kProcess) == nullptr && m->GetHandle(v, HO::kToken) == nullptr &&
      m->GetHandle(v, HO::kSnapshot) == nullptr && m->GetHandle(v, HO::kJob) == nullptr &&
      m->GetHandle(v, HO::kThread) == nullptr && m->GetHandle(v, HO::kPort) == nullptr)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  return m->CloseHandleValue(v);
}

BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, char* name, DWORD* size) {
  SEAM("QueryFullProcessImageNameA");
  if (M().imageNameCallMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("QueryFullProcessImageNameA", FALSE);
  HO* h = M().GetHandle(H(process), HO::kProcess);
  if (h == nullptr || flags != 0 || !(h->access & PROCESS_QUERY_INFORMATION)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  const sim::Process* p = M().FindProcess(h->pid);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  // The simulated image path is what Toolhelp shows, when that is a path.
  const std::string& image = p->exeFile;
  if (image.size() + 1 > *size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::memcpy(name, image.c_str(), image.size() + 1);
  *size = static_cast<DWORD>(image.size());
  return TRUE;
}

// Windows XP and later: the image "in device form" (Microsoft's page; the
// limited right is enough from Vista on), a
// buffer without room for the zero refused; the A call's answer is no length:
// "Windows returns 2*strlen-1" (Wine's psapi tests; Wine 8 gives the length).
DWORD GetProcessImageFileNameA(HANDLE process, char* name, DWORD size) {
  SEAM("GetProcessImageFileNameA");
  if (M().imageFileCallMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, 0u);
  FAULT("GetProcessImageFileNameA", 0u);
  HO* h = M().GetHandle(H(process), HO::kProcess);
  const DWORD query = PROCESS_QUERY_INFORMATION | (M().ntMajor < 6 ? 0 : PROCESS_QUERY_LIMITED_INFORMATION);
  if (h == nullptr || !(h->access & query)) return Fail(ERROR_ACCESS_DENIED, 0u);
  const std::string& exe = M().FindProcess(h->pid)->exeFile;  // C: is the first volume
  const std::string image = "\\Device\\HarddiskVolume1" + (exe[1] == ':' ? exe.substr(2) : "\\" + exe);
  if (image.size() + 1 > size) return Fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  std::memcpy(name, image.c_str(), image.size() + 1);
  return static_cast<DWORD>(2 * image.size() - 1);
}

// Jobs as Windows 8 and Wine 8 keep them: processes started by a member join
// the job, nesting is allowed (before Windows 8, nestedJobsMissing: a process
// already in a job is refused with ERROR_ACCESS_DENIED, per Microsoft's
// AssignProcessToJobObject page), closing the job's handle ends nothing, and
// the count of active processes is read at any time.
HANDLE CreateJobObjectA(void*, const char*) {
  SEAM("CreateJobObjectA");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, static_cast<HANDLE>(nullptr));
  FAULT("CreateJobObjectA", static_cast<HANDLE>(nullptr));
  HO obj(HO::kJob);
  obj.job = M().nextJob++;
  return ToHandle(M().NewHandle(obj));
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  SEAM("AssignProcessToJobObject");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("AssignProcessToJobObject", FALSE);
  HO* j = M().GetHandle(H(job), HO::kJob);
  HO* h = M().GetHandle(H(process), HO::kProcess);
  if (j == nullptr || h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if ((h->access & 0x101) != 0x101 || !M().IsAlive(h->pid)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (M().nestedJobsMissing && !M().FindProcess(h->pid)->jobs.empty()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  M().FindProcess(h->pid)->jobs.push_back(j->job);
  for (auto& p : M().processes)  // what it starts from now on joins too
    if (p.parentPid == h->pid && p.joinsParentJobs) p.jobs.push_back(j->job);
  return TRUE;
}

BOOL QueryJobActiveProcesses(HANDLE job, DWORD* active) {
  SEAM("QueryJobActiveProcesses");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("QueryJobActiveProcesses", FALSE);
  HO* j = M().GetHandle(H(job), HO::kJob);
  if (j == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  DWORD n = 0;
  for (const auto& p : M().processes)
    if (M().IsAlive(p.pid) && std::find(p.jobs.begin(), p.jobs.end(), j->job) != p.jobs.end()) ++n;
  *active = n;
  return TRUE;
}

// CREATE_SUSPENDED: the first thread does not run until ResumeThread
// (Microsoft's CreateProcess page).
BOOL CreateProcessA(const char* application, char* commandLine, DWORD creationFlags, const void* environment,
                    const char* directory, STARTUPINFOA* startup, PROCESS_INFORMATION* info) {
  SEAM("CreateProcessA");
  FAULT("CreateProcessA", FALSE);
  if (startup == nullptr || startup->cb != sizeof(STARTUPINFOA) || info == nullptr)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Machine::Node* n = application ? M().FindNode(application) : nullptr;
  if (n == nullptr || n->dir) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  const std::string line = commandLine ? commandLine : "";
  const bool suspended = (creationFlags & CREATE_SUSPENDED) != 0;
  if (directory != nullptr) {
    const Machine::Node* d = M().FindNode(directory);
    if (d == nullptr || !d->dir) return Fail(ERROR_DIRECTORY, FALSE);
  }
  sim::Launch launch{0, 0, nullptr, false, directory == nullptr, n->path, "", 0, M().clockMs, M().clockMs,
                     "CreateProcess", line, creationFlags, false, "", ""};
  launch.directory = directory ? directory : "";
  // UTF-16 with CREATE_UNICODE_ENVIRONMENT, else bytes (ASCII in these tests); ends at an empty string.
  for (size_t i = 0; environment != nullptr; ++i) {
    const char c = static_cast<char>((creationFlags & pf::kCreateUnicodeEnvironment)
                                         ? static_cast<const char16_t*>(environment)[i] : static_cast<const char*>(environment)[i]);
    if (c == '\0' && (launch.environment.empty() || launch.environment.back() == '|')) break;
    launch.environment += c != '\0' ? c : '|';
  }
  if (!launch.environment.empty()) launch.environment.pop_back();
  const DWORD pid = Start(launch, line, !suspended);
  M().FindProcess(pid)->suspended = suspended;
  info->hProcess = NewHandleTo(pid, HO::kProcess);
  info->hThread = NewHandleTo(pid, HO::kThread);
  info->dwProcessId = pid;
  info->dwThreadId = pid + 1;
  return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
  SEAM("ResumeThread");
  FAULT("ResumeThread", static_cast<DWORD>(-1));
  HO* h = M().GetHandle(H(thread), HO::kThread);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, static_cast<DWORD>(-1));
  sim::Process* p = M().FindProcess(h->pid);
  if (p == nullptr || !p->suspended) return 0;  // the previous suspend count
  p->suspended = false;
  const uint64_t end = M().RunProgram(h->pid);
  if (h->pos < M().launches.size()) M().launches[h->pos].endMs = end;
  return 1;
}

BOOL AllowJobBreakaway(HANDLE job) {
  SEAM("AllowJobBreakaway");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("AllowJobBreakaway", FALSE);
  HO* j = M().GetHandle(H(job), HO::kJob);
  if (j == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  M().breakawayJobs.insert(j->job);
  return TRUE;
}

// A port is told of each process as it joins the job, by assignment or as
// started by a member, in that order, and the message stays queued after the
// process has ended, its id then no longer vouched for (Microsoft's
// JOBOBJECT_ASSOCIATE_COMPLETION_PORT page; not checked against Wine); sim
// ids grow and are never reused, so the order is that of the ids. A wait
// with none queued runs out on the virtual clock: sim processes join only in
// the call that starts them (a member's end, which ends a real wait sooner, is
// not told). One joins at its creation, before it runs (Wine's server,
// add_job_process): told at that instant, it opens however soon it ends.
HANDLE WatchJobStarts(HANDLE job) {
  SEAM("WatchJobStarts");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, static_cast<HANDLE>(nullptr));
  FAULT("WatchJobStarts", static_cast<HANDLE>(nullptr));
  HO* j = M().GetHandle(H(job), HO::kJob);
  if (j == nullptr) return Fail(ERROR_INVALID_HANDLE, static_cast<HANDLE>(nullptr));
  HO obj(HO::kPort);
  obj.job = j->job;
  return ToHandle(M().NewHandle(obj));
}

BOOL NextJobStart(HANDLE port, DWORD* processId, DWORD ms) {
  SEAM("NextJobStart");
  HO* h = M().GetHandle(H(port), HO::kPort);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  for (const auto& p : M().processes)
    if (p.pid > h->pos && std::find(p.jobs.begin(), p.jobs.end(), h->job) != p.jobs.end()) {
      *processId = p.pid;
      h->pos = p.pid;
      if (p.startedAt == M().clockMs) M().justJoined = {p.pid, M().clockMs};
      return TRUE;
    }
  M().clockMs += ms;
  return Fail(WAIT_TIMEOUT, FALSE);
}

// JobObjectBasicProcessIdList: the ids of the job's running processes; a list
// that does not fit fails with ERROR_MORE_DATA (Microsoft's
// QueryInformationJobObject page; Wine's kernel32 process tests,
// test_QueryInformationJobObject).
BOOL QueryJobProcessIds(HANDLE job, DWORD* ids, DWORD capacity, DWORD* count) {
  SEAM("QueryJobProcessIds");
  if (M().jobsMissing) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  FAULT("QueryJobProcessIds", FALSE);
  HO* j = M().GetHandle(H(job), HO::kJob);
  if (j == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  DWORD n = 0;
  for (const auto& p : M().processes) {
    if (!M().IsAlive(p.pid) || std::find(p.jobs.begin(), p.jobs.end(), j->job) == p.jobs.end()) continue;
    if (n == capacity) return Fail(234u /* ERROR_MORE_DATA */, FALSE);
    ids[n++] = p.pid;
  }
  *count = n;
  return TRUE;
}

BOOL EnableDebugPrivilege() {
  SEAM("EnableDebugPrivilege");
  FAULT("EnableDebugPrivilege", FALSE);  // a token without it
  M().debugPrivilegeEnabled = true;
  return TRUE;
}

DWORD GetTickCount() {
  SEAM("GetTickCount");
  return static_cast<DWORD>(M().clockMs);
}

BOOL GetUserNameA(char* buffer, DWORD* size) {
  SEAM("GetUserNameA");
  const std::string& user = M().userName;
  if (M().ShouldFail("GetUserNameA")) {
    *size = static_cast<DWORD>(user.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  if (*size < user.size() + 1) {
    *size = static_cast<DWORD>(user.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(buffer, user.c_str(), user.size() + 1);
  *size = static_cast<DWORD>(user.size() + 1);
  return TRUE;
}

DWORD GetLastError() {
  SEAM("GetLastError");
  return M().lastError;
}

// ---- windows and boxes ------------------------------------------------------------
// Titles compared without regard to case.
HWND FindWindowA(const char* className, const char* windowName) {
  SEAM("FindWindowA");
  FAULT("FindWindowA", static_cast<HWND>(nullptr));
  if (className != nullptr || windowName == nullptr) return nullptr;
  for (size_t i = 0; i < M().windows.size(); ++i) {
    const sim::Window& w = M().windows[i];
    if (w.pid != 0 && !M().IsAlive(w.pid)) continue;
    if (M().Fold(w.title) == M().Fold(windowName)) return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5001 + i));
  }
  return nullptr;
}

HWND GetShellWindow() {
  SEAM("GetShellWindow");
  return M().IsAlive(M().shellPid) ? kShellWindow : nullptr;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  SEAM("GetWindowThreadProcessId");
  if (hwnd != kShellWindow || !M().IsAlive(M().shellPid))
    return Fail(1400u /* ERROR_INVALID_WINDOW_HANDLE */, 0u);
  if (processId != nullptr) *processId = M().shellPid;
  return M().shellPid + 1;
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result) {
  SEAM("SendMessageTimeoutA");
  FAULT("SendMessageTimeoutA", static_cast<LRESULT>(0));
  const uintptr_t index = reinterpret_cast<uintptr_t>(hwnd) - 0x5001;
  if (index >= M().windows.size()) return Fail(1400u /* ERROR_INVALID_WINDOW_HANDLE */, static_cast<LRESULT>(0));
  sim::Window& w = M().windows[index];
  char detail[48];
  std::snprintf(detail, sizeof detail, "msg=0x%X wparam=%lu", msg, static_cast<unsigned long>(wParam));
  M().Record("SendMessage", w.title, detail);
  w.sendFlags.push_back(flags);
  if (w.hung) {
    M().clockMs += timeoutMs;
    return Fail(1460u /* ERROR_TIMEOUT */, static_cast<LRESULT>(0));
  }
  if (msg == WM_COMMAND) w.commands.push_back(wParam);
  if (w.onCommand) w.onCommand();
  if (result != nullptr) *result = 1;
  return 1;
}

int MessageBoxInCodePage(HWND owner, const char* text, const char* caption, UINT codePage, UINT type) {
  SEAM("MessageBoxInCodePage");
  M().boxes.push_back({owner, text ? text : "", caption ? caption : "", type, M().clockMs, codePage});
  M().Record("MessageBox", caption ? caption : "");
  FAULT("MessageBoxInCodePage", 0);
  if (M().boxScript.empty()) {
    ++M().unscriptedBoxes;
    return 0;
  }
  auto step = std::move(M().boxScript.front());
  M().boxScript.pop_front();
  if (step.second) step.second();
  return step.first;
}

int MessageBoxUnicode(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type, UINT) {
  SEAM("MessageBoxUnicode");
  std::string utf8[2];
  for (int i = 0; i < 2; ++i)
    for (const WCHAR* w = i == 0 ? text : caption; w != nullptr && *w != 0; ++w) {
      std::string one;  // the box's texts hold no surrogate pairs
      if (IconvOne("UTF-8", "UTF-16LE", {static_cast<char>(*w), static_cast<char>(*w >> 8)}, &one)) utf8[i] += one;
    }
  M().boxes.push_back({owner, utf8[0], utf8[1], type, M().clockMs, 65001});
  M().Record("MessageBox", utf8[1]);
  FAULT("MessageBoxUnicode", 0);
  if (M().boxScript.empty()) {
    ++M().unscriptedBoxes;
    return 0;
  }
  auto step = std::move(M().boxScript.front());
  M().boxScript.pop_front();
  if (step.second) step.second();
  return step.first;
}

// ---- shell ------------------------------------------------------------------------
HRESULT AssocQueryExecutable(DWORD flags, const char* assoc, char* out, DWORD* outSize) {
  SEAM("AssocQueryExecutable");
  FAULT("AssocQueryExecutable", static_cast<HRESULT>(0x80070002u));
  const std::string key = assoc ? assoc : "";
  const auto& table = (flags & kAssocIsProtocol) && M().protocolChoiceExe.count(key) ? M().protocolChoiceExe
                                                                                      : M().protocolClassExe;
  const auto it = table.find(key);  // ERROR_NO_ASSOCIATION where none:
  if (it == table.end()) return static_cast<HRESULT>(0x80070483u);
  if (it->second.size() + 1 > *outSize) {  // only ASSOCF_NOTRUNCATE is asked for here
    *outSize = static_cast<DWORD>(it->second.size() + 1);
    return E_POINTER;
  }
  std::memcpy(out, it->second.c_str(), it->second.size() + 1);
  *outSize = static_cast<DWORD>(it->second.size() + 1);
  return S_OK;
}

BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) {
  SEAM("SHGetSpecialFolderPathA");
  if (create) ++M().specialFolderCreateRequests;
  if (owner != nullptr) ++M().specialFolderOwnerWindows;
  FAULT("SHGetSpecialFolderPathA", FALSE);
  auto it = M().specialFolders.find(csidl);
  if (it == M().specialFolders.end() || it->second.size() >= MAX_PATH) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  std::memcpy(path, it->second.c_str(), it->second.size() + 1);
  return TRUE;
}

void SHChangeNotify(LONG eventId, UINT flags, const void* item1, const void* item2) {
  SEAM("SHChangeNotify");
  char detail[64];
  std::snprintf(detail, sizeof detail, "event=0x%X flags=0x%X item2=%s", static_cast<unsigned>(eventId),
                flags, item2 ? "set" : "null");
  M().Record("SHChangeNotify", item1 ? static_cast<const char*>(item1) : "(null)", detail);
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  SEAM("ShellExecuteExA");
  FAULT("ShellExecuteExA", FALSE);
  info->hProcess = nullptr;
  const std::string file = info->lpFile ? info->lpFile : "";
  Machine::Node* n = M().FindNode(file);
  if (n == nullptr || n->dir) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  sim::Launch launch{info->cbSize,
                     info->fMask,
                     info->hwnd,
                     info->lpVerb == nullptr,
                     info->lpDirectory == nullptr,
                     n->path,
                     info->lpParameters ? info->lpParameters : "",
                     info->nShow,
                     M().clockMs,
                     M().clockMs, "ShellExecute", "", 0, M().comDepth > 0, "", ""};
  launch.directory = info->lpDirectory ? info->lpDirectory : "";
  const DWORD pid = Start(launch, launch.parameters, true);
  if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) && !M().launchWithoutProcessHandle)
    info->hProcess = NewHandleTo(pid, HO::kProcess);
  return TRUE;
}

// S_OK the first time on a thread, S_FALSE when already initialised (Microsoft's CoInitializeEx page).
HRESULT CoInitializeEx(DWORD flags) {
  SEAM("CoInitializeEx");
  FAULT("CoInitializeEx", static_cast<HRESULT>(0x80004005));  // E_FAIL
  M().comFlags = flags;
  return ++M().comDepth == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  SEAM("CoUninitialize");
  if (M().comDepth > 0) --M().comDepth;
}

BOOL PathFileExistsA(const char* path) {
  SEAM("PathFileExistsA");
  FAULT("PathFileExistsA", FALSE);
  return M().Exists(path) ? TRUE : FALSE;
}

// ---- system -------------------------------------------------------------------------
int SetDefaultDllDirectories(DWORD directoryFlags) {
  if (!M().hasSetDefaultDllDirectories) return kMissing;
  FAULT("SetDefaultDllDirectories", FALSE);
  char detail[16];
  std::snprintf(detail, sizeof detail, "0x%X", static_cast<unsigned>(directoryFlags));
  M().Record("SetDefaultDllDirectories", detail);
  return TRUE;
}

int SetDllDirectoryA(const char* path) {
  if (!M().hasSetDllDirectory) return kMissing;
  FAULT("SetDllDirectoryA", FALSE);
  M().Record("SetDllDirectory", path == nullptr ? "(null)" : "\"" + std::string(path) + "\"");
  return TRUE;
}

int SetRedirectionTrustPolicy(DWORD flags) {
  if (!M().hasSetProcessMitigationPolicy) return kMissing;
  M().Record("SetProcessMitigationPolicy", "RedirectionTrust", std::to_string(flags));
  return TRUE;
}

void GetStartupInfoA(STARTUPINFOA* info) {
  const DWORD cb = info->cb;
  std::memset(info, 0, sizeof *info);
  info->cb = cb;
  info->dwFlags = M().startupFlags;
  info->wShowWindow = M().startupShow;
  M().Record("GetStartupInfo", "self");
}

LANGID GetSystemDefaultLangID() {
  SEAM("GetSystemDefaultLangID");
  return M().langId;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  SEAM("GetVersionExA");
  FAULT("GetVersionExA", FALSE);
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  info->dwMajorVersion = M().platformId == VER_PLATFORM_WIN32_WINDOWS ? 4 : M().ntMajor;
  info->dwMinorVersion = M().platformId == VER_PLATFORM_WIN32_WINDOWS ? 10 : M().ntMinor;
  info->dwBuildNumber = 2600;
  info->dwPlatformId = M().platformId;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

UINT GetSystemDirectoryA(char* buffer, UINT size) {
  SEAM("GetSystemDirectoryA");
  FAULT("GetSystemDirectoryA", 0u);
  return CopyOut(M().systemDir, buffer, size);
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
  SEAM("GetWindowsDirectoryA");
  FAULT("GetWindowsDirectoryA", 0u);
  return CopyOut(M().windowsDir, buffer, size);
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size) {
  SEAM("GetModuleFileNameA");
  FAULT("GetModuleFileNameA", 0u);
  if (size == 0) return 0;
  const std::string& p = M().modulePath;
  if (p.size() + 1 > size) {  // truncated and terminated, as on Vista and later
    std::memcpy(buffer, p.c_str(), size - 1);
    buffer[size - 1] = '\0';
    M().lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::memcpy(buffer, p.c_str(), p.size() + 1);
  return static_cast<DWORD>(p.size());
}

BOOL IsDBCSLeadByte(BYTE c) { return M().IsLead(c) ? TRUE : FALSE; }

void Sleep(DWORD ms) {
  SEAM("Sleep");
  M().sleeps.push_back(ms);
  M().clockMs += ms;
}

// ---- multibyte strings in the machine's code page -----------------------------------
// As the runtime does it: a lead byte followed by the terminator gives a
// pointer to that terminator when nothing matched before it.
const char* MbsRChr(const char* s, unsigned ch) {
  const char* found = nullptr;
  for (const char* p = s; *p != '\0'; ++p) {
    if (M().IsLead(static_cast<unsigned char>(*p))) {
      if (p[1] == '\0') return found != nullptr ? found : p + 1;
      if (ch == ((static_cast<unsigned>(static_cast<unsigned char>(*p)) << 8) | static_cast<unsigned char>(p[1])))
        found = p;
      ++p;
      continue;
    }
    if (static_cast<unsigned char>(*p) == ch) found = p;
  }
  return found;
}

int MbsICmp(const char* a, const char* b) {
  const std::string fa = M().Fold(a), fb = M().Fold(b);
  const int c = std::strcmp(fa.c_str(), fb.c_str());
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---- code pages ---------------------------------------------------------------------
// Invalid input without MB_ERR_INVALID_CHARS becomes U+FFFD in UTF-8, as from
// Vista, and "?" in the double-byte code pages (Wine's kernel32 codepage
// tests, test_dbcs_to_widechar); best-fit mappings are not modelled: a
// character the code page lacks always becomes the default character. Output
// that does not fit is written as far as whole characters fit.
UINT GetACP() { return M().acp; }

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide, int wideCap) {
  SEAM("MultiByteToWideChar");
  FAULT("MultiByteToWideChar", 0);
  if (codePage == CP_ACP) codePage = M().acp;
  const char* name = IconvName(codePage);
  if (name == nullptr || text == nullptr || length == 0 || length < -1 || wideCap < 0) return Fail(ERROR_INVALID_PARAMETER, 0);
  if (codePage == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS, 0);
  const std::string in = length == -1 ? std::string(text, std::strlen(text) + 1) : std::string(text, length);
  std::u16string out;
  for (size_t i = 0; i < in.size();) {
    std::string units;
    const size_t n = in[i] == '\0' ? 1 : CharLength(name, in, i, &units);
    if (in[i] == '\0') units.assign(2, '\0');
    if (n == 0) {
      if (flags & MB_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
      out += codePage == CP_UTF8 ? u'\xFFFD' : u'?';  // double-byte code pages: their default character
      ++i;
      continue;
    }
    for (size_t k = 0; k + 1 < units.size(); k += 2)
      out += static_cast<char16_t>(static_cast<unsigned char>(units[k]) | static_cast<unsigned char>(units[k + 1]) << 8);
    i += n;
  }
  if (wideCap == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(wideCap)) return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::copy(out.begin(), out.end(), wide);
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* text, int textCap,
                        const char* defaultChar, BOOL* usedDefaultChar) {
  SEAM("WideCharToMultiByte");
  FAULT("WideCharToMultiByte", 0);
  if (codePage == CP_ACP) codePage = M().acp;
  const char* name = IconvName(codePage);
  if (name == nullptr || wide == nullptr || length == 0 || length < -1 || textCap < 0) return Fail(ERROR_INVALID_PARAMETER, 0);
  if (codePage == CP_UTF8) {  // documented: no flags but WC_ERR_INVALID_CHARS, no default character
    if ((flags & ~0x80u) != 0) return Fail(ERROR_INVALID_FLAGS, 0);
    if (defaultChar != nullptr || usedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  size_t count = 0;
  if (length == -1) {
    while (wide[count] != 0) ++count;
    ++count;
  } else {
    count = static_cast<size_t>(length);
  }
  std::string out;
  size_t whole = 0;  // bytes of the characters that fit textCap: written even when the rest does not
  bool usedDefault = false;
  for (size_t i = 0; i < count;) {
    const size_t n = wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < count ? 2 : 1;
    std::string in;
    for (size_t k = 0; k < n; ++k) {
      in += static_cast<char>(wide[i + k] & 0xFF);
      in += static_cast<char>(wide[i + k] >> 8);
    }
    std::string bytes;
    if (wide[i] == 0) {
      bytes.assign(1, '\0');
    } else if (!IconvOne(name, "UTF-16LE", in, &bytes)) {
      bytes = defaultChar != nullptr ? defaultChar : "?";
      usedDefault = true;
    }
    out += bytes;
    if (out.size() <= static_cast<size_t>(textCap)) whole = out.size();
    i += n;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  if (textCap == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(textCap)) {
    std::memcpy(text, out.data(), whole);
    return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  }
  std::memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

}  // namespace pf
