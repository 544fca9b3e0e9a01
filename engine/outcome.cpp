#include "engine/outcome.h"

#include <cstring>

#include "engine/catalogue.h"
#include "fsclean/leftovers.h"
#include "fsclean/paths.h"
#include "i18n/texts.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// One of the restart list's values, read whole (it may grow between the
// size's read and the data's: read again once): its bytes up to the last
// complete name, in block. 0 when it is missing or not a REG_MULTI_SZ.
size_t ReadRestartValue(HKEY key, const char* value, pf::ScopedBuffer* block) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD type = 0, size = 0;
    if (pf::RegQueryValueExA(key, value, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ) return 0;
    size += 4096;
    BYTE* bytes = reinterpret_cast<BYTE*>(block->Allocate(size));
    if (bytes == nullptr) return 0;
    const LONG read = pf::RegQueryValueExA(key, value, &type, bytes, &size);
    if (read == ERROR_MORE_DATA) continue;
    if (read != ERROR_SUCCESS || type != REG_MULTI_SZ) return 0;
    while (size > 0 && bytes[size - 1] != 0) --size;  // a name without its terminator is no name
    return size;
  }
  return 0;
}

// A listed name as a path: without "\??\" and a leading "!".
const char* Bare(const char* name) {
  if (std::strncmp(name, "\\??\\", 4) == 0) name += 4;
  return name[0] == '!' ? name + 1 : name;
}

// The deletions of the restart list (pairs of names, the second empty), in
// the order the restart carries them out.
struct Deletions {
  pf::ScopedBuffer blocks[2];
  size_t sizes[2] = {0, 0};
  typedef bool (*Visit)(const void* context, const char* name, unsigned index);
  // visit(context, name, index) for each deletion in order, until it says true.
  bool Any(Visit visit, const void* context) const {
    unsigned index = 0;
    for (int v = 0; v < 2; ++v) {
      const char* p = blocks[v].Get();
      const char* end = p + sizes[v];
      while (p < end) {
        const char* source = p;
        p += std::strlen(p) + 1;
        if (p >= end) break;  // a name without its pair
        const char* target = p;
        p += std::strlen(p) + 1;
        if (source[0] != '\0' && target[0] == '\0' && visit(context, Bare(source), index++)) return true;
      }
    }
    return false;
  }
};

// path is base or lies below it (bytes compared without case, code-page aware).
bool IsAtOrBelow(const char* path, const char* base) {
  const size_t n = std::strlen(base);
  if (n == 0 || n >= MAX_PATH || std::strlen(path) < n || (path[n] != '\0' && path[n] != '\\')) return false;
  char head[MAX_PATH];
  std::memcpy(head, path, n);
  head[n] = '\0';
  return pf::MbsICmp(head, base) == 0;
}

// The long name of path where it exists; false when it does not. A file
// deleted while a program holds it, and every name where the system lacks
// the call (Windows 95, NT 4), stand as listed.
bool LongName(const char* path, char* out) {
  const DWORD n = pf::GetLongPathNameA(path, out, MAX_PATH);
  if (n != 0) return n < MAX_PATH;
  DWORD error = pf::GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED && pf::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
    error = pf::GetLastError();
  return (error == ERROR_ACCESS_DENIED || error == ERROR_CALL_NOT_IMPLEMENTED) && ComposePath(out, MAX_PATH, path, "");
}

bool Special(int csidl, char* out) {
  return pf::SHGetSpecialFolderPathA(nullptr, out, csidl, FALSE) && out[0] != '\0';
}

// path lies at or below one of the run's folders in parent: "Brannoch.pending"
// or that name followed by ".2" up to ".16".
bool InRunFolder(const char* path, const char* parent) {
  char base[MAX_PATH];
  if (!ComposePath(base, MAX_PATH, parent, "\\Brannoch.pending")) return false;
  const size_t n = std::strlen(base);
  if (std::strlen(path) < n) return false;
  char head[MAX_PATH];
  std::memcpy(head, path, n);
  head[n] = '\0';
  if (pf::MbsICmp(head, base) != 0) return false;
  const char* rest = path + n;
  if (*rest == '.')
    for (++rest; *rest >= '0' && *rest <= '9'; ++rest) {
    }
  return *rest == '\0' || *rest == '\\';
}

// One of the catalogue's names below special: name as its code page stores it.
bool AtOrBelowName(const char* path, const char* special, const char* name, UINT codePage) {
  char converted[MAX_PATH], full[MAX_PATH];
  return NameInAnsiCodePage(name, codePage, converted, MAX_PATH) && converted[0] != '\0' &&
         ComposePath(full, MAX_PATH, special, converted) && IsAtOrBelow(path, full);
}

// A name of the old editions: in a run's folder, or one of their catalogue's
// (program folders, Start-menu groups and folders and desktop shortcuts in
// every language, the vendor's libraries).
bool IsTheEditions(const char* path) {
  // Where the system keeps no security, what resists is moved onto "_@" names
  // in the temporary folder or its drive's root.
  const char* leaf = pf::MbsRChr(path, '\\');
  if (leaf != nullptr && std::strncmp(leaf, "\\_@", 3) == 0) {
    char temp[MAX_PATH] = {}, folder[MAX_PATH] = {};
    const DWORD t = pf::GetTempPathA(MAX_PATH, temp);
    const size_t n = static_cast<size_t>(leaf - path);
    std::memcpy(folder, path, n < MAX_PATH ? n : 0);
    if (t != 0 && t < MAX_PATH && temp[t - 1] == '\\') temp[t - 1] = '\0';
    if (n == 2 || (t != 0 && t < MAX_PATH && pf::MbsICmp(folder, temp) == 0)) return true;
  }
  char dir[MAX_PATH] = {};
  const UINT w = pf::GetSystemWindowsDirectoryA(dir, MAX_PATH);
  if (w != 0 && w < MAX_PATH && InRunFolder(path, dir)) return true;
  char programFiles[MAX_PATH] = {}, programs[MAX_PATH] = {}, desktop[MAX_PATH] = {}, system[MAX_PATH] = {};
  const bool files = Special(CSIDL_PROGRAM_FILES, programFiles);
  if (files && InRunFolder(path, programFiles)) return true;
  const bool menu = Special(CSIDL_COMMON_PROGRAMS, programs), desk = Special(CSIDL_COMMON_DESKTOPDIRECTORY, desktop);
  static const EditionProfile* const profiles[] = {&kEdition1Profile, &kEdition2Profile, &kEdition3Profile};
  static const UINT codePages[3] = {936, 0, 950};
  for (int e = 0; e < 3; ++e) {
    if (files && AtOrBelowName(path, programFiles, profiles[e]->programFolder, 0)) return true;
    for (int l = 0; l < 3; ++l) {
      const EditionNameRow& row = EditionNamesFor(e + 1, static_cast<UiLanguage>(l));
      if (menu && (AtOrBelowName(path, programs, row.menuFolder, codePages[l]) ||
                   AtOrBelowName(path, programs, row.menuSubfolder, codePages[l])))
        return true;
      if (!desk) continue;
      // The shortcut, and the folders it may lie in below the desktop.
      char name[MAX_PATH], full[MAX_PATH];
      if (!NameInAnsiCodePage(row.desktopShortcut, codePages[l], name, MAX_PATH) || name[0] == '\0' ||
          !ComposePath(full, MAX_PATH, desktop, name))
        continue;
      if (IsAtOrBelow(path, full)) return true;
      for (int up = 0; up < 2; ++up) {
        char* last = const_cast<char*>(pf::MbsRChr(full, '\\'));
        if (last == nullptr) break;
        *last = '\0';  // full is now its folder
        if (pf::MbsICmp(full, desktop) == 0) break;
        if (IsAtOrBelow(path, full)) return true;
      }
    }
  }
  const UINT n = pf::GetSystemDirectoryA(system, MAX_PATH);
  for (const char* library : kResourceLibraries) {
    char full[MAX_PATH];
    if (n != 0 && n < MAX_PATH && ComposePath(full, MAX_PATH, system, library) && pf::MbsICmp(path, full) == 0)
      return true;
  }
  return false;
}

constexpr int kMaxDepth = 4;

// An entry of a folder listed for deletion, looked for among the deletions
// before the folder's own.
struct Entry {
  const Deletions* list;
  const char* path;
  unsigned before;
  int depth;
  bool folder;
};
bool EmptyByThen(const Deletions& list, const char* folder, unsigned index, int depth);
bool DeletedBefore(const void* context, const char* source, unsigned at) {
  const Entry& e = *static_cast<const Entry*>(context);
  char name[MAX_PATH];
  return at < e.before && LongName(source, name) && pf::MbsICmp(name, e.path) == 0 &&
         (!e.folder || EmptyByThen(*e.list, e.path, at, e.depth + 1));
}

// True when everything in folder is itself deleted by the list before the
// deletion at index: the restart removes a folder only when it is empty.
bool EmptyByThen(const Deletions& list, const char* folder, unsigned index, int depth) {
  char pattern[MAX_PATH];
  if (depth > kMaxDepth || !ComposePath(pattern, MAX_PATH, folder, "\\*")) return false;
  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof data);
  pf::ScopedFindHandle find(pf::FindFirstFileA(pattern, &data));
  if (!find.IsValid()) return false;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    char entry[MAX_PATH];
    if (!ComposePath(entry, MAX_PATH, folder, "\\", data.cFileName)) return false;
    const Entry seek = {&list, entry, index, depth, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
    const bool deleted = list.Any(&DeletedBefore, &seek);
    if (!deleted) return false;
  } while (pf::FindNextFileA(find.Get(), &data));
  return true;
}

// A deletion whose name still exists and is the old editions' (a folder
// only where it will be empty by then).
bool RemovesTheEditions(const void* context, const char* source, unsigned index) {
  char name[MAX_PATH];
  if (!LongName(source, name) || !IsTheEditions(name)) return false;
  const DWORD attributes = pf::GetFileAttributesA(name);
  return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
         EmptyByThen(*static_cast<const Deletions*>(context), name, index, 0);
}

}  // namespace

bool RestartRemovesSomething() {
  pf::ScopedRegKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE)) return false;
  Deletions list;
  list.sizes[0] = ReadRestartValue(key.Get(), "PendingFileRenameOperations", &list.blocks[0]);
  list.sizes[1] = ReadRestartValue(key.Get(), "PendingFileRenameOperations2", &list.blocks[1]);
  return list.Any(&RemovesTheEditions, &list);
}

size_t ShortenedPath(const char* path, WCHAR* out, size_t cap, size_t maxChars) {
  WCHAR wide[MAX_PATH];
  const int n = pf::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
  if (n <= 0 || cap == 0) return 0;
  size_t length = static_cast<size_t>(n - 1);
  static const WCHAR kCut[] = {'<', 0x2026, '>'};  // '<' and '>' are in no Windows name
  const size_t cut = sizeof kCut / sizeof kCut[0];
  if (length > maxChars && maxChars > cut) {
    const size_t head = (maxChars - cut) / 2, tail = maxChars - cut - head;
    std::memmove(wide + head + cut, wide + length - tail, tail * sizeof(WCHAR));
    std::memcpy(wide + head, kCut, sizeof kCut);
    length = maxChars;
  }
  if (length >= cap) return 0;
  std::memcpy(out, wide, length * sizeof(WCHAR));
  out[length] = 0;
  return length;
}

namespace {

// Appends to a UTF-16 text, all or nothing; a fixed text that cannot be
// converted spoils the whole.
struct Text {
  WCHAR* out;
  size_t cap, used;
  bool spoilt;
  bool Add(const WCHAR* units, size_t n) {
    if (used + n >= cap) return false;
    std::memcpy(out + used, units, n * sizeof(WCHAR));
    out[used += n] = 0;
    return true;
  }
  bool Add936(const char* text) {  // one of the fixed texts
    WCHAR wide[256];
    const int n = pf::MultiByteToWideChar(kFixedTextsCodePage, 0, text, -1, wide, 256);
    spoilt = spoilt || n <= 0;
    return n > 0 && Add(wide, static_cast<size_t>(n - 1));
  }
  bool AddNumber(unsigned v) {
    WCHAR digits[12];
    size_t n = 0;
    do digits[11 - n++] = static_cast<WCHAR>('0' + v % 10); while ((v /= 10) != 0);
    return Add(digits + 12 - n, n);
  }
};

constexpr size_t kPathChars = 60;
const WCHAR kNewline[] = {'\n'};
constexpr unsigned kNamed = 3;

}  // namespace

bool ComposeRunOutcome(const RunResult& result, const RunRecord& record, WCHAR* out, size_t cap) {
  Text t = {out, cap, 0, false};
  if (cap > 0) out[0] = 0;
  if (result.outcome == RunOutcome::kStopped) return false;
  const bool restart = result.restart == RestartNeed::kRestart;
  if (result.outcome == RunOutcome::kNotAllowed) {
    // The restart never seems to finish an edition that was refused.
    t.Add936(restart ? NotAllRemovedRestartText : NotAllRemovedText);
    if (result.stays == WhatStays::kNothing) return !t.spoilt;
    t.Add(kNewline, 1);
  }
  if (result.stays == WhatStays::kNothing) {
    t.Add936(SuccessText);
    if (restart) t.Add936(RestartSentence);
    return !t.spoilt;
  }
  t.Add936(LeftoverText);
  t.Add936(ListColon);
  const unsigned stays = record.StayCount();
  unsigned named = 0;
  for (unsigned i = 0; i < stays && i < RunRecord::kMaxItems && named < kNamed; ++i) {
    const StayingItem& item = record.Item(i);
    WCHAR line[kPathChars + 1 + 2 + 64 + 2];
    line[0] = '\n';
    size_t n = ShortenedPath(item.path, line + 1, kPathChars + 1, kPathChars);
    if (n == 0) continue;
    n += 1;
    if (item.holder[0] != 0) {  // "（holder）"
      line[n++] = 0xFF08;
      for (size_t h = 0; item.holder[h] != 0 && h < 63; ++h) line[n++] = item.holder[h];
      line[n++] = 0xFF09;
    }
    if (t.Add(line, n)) ++named;
  }
  if (named < stays) {
    t.Add(kNewline, 1);
    t.Add936(MoreItemsText);
    t.AddNumber(stays - named);
    t.Add936(ItemsText);
  }
  t.Add(kNewline, 1);
  if (restart) t.Add936(RestartRemainderSentence);
  t.Add936(result.stays == WhatStays::kCloseAndRunAgain ? CloseAndRunAgainSentence
           : result.stays == WhatStays::kRunAgain       ? RunAgainSentence
                                                        : AskAdministratorSentence);
  return !t.spoilt;
}
