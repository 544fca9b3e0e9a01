#include "fsclean/shortcut.h"

#include <cstring>

#include "fsclean/delete.h"
#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace {
constexpr size_t kBuf = 500;

// On Windows 9x the shell's all-users folders sit at fixed places on the
// system drive; the text replaces everything after "X:\".
const char* Win9xFallback(int csidl) {
  if (csidl == CSIDL_COMMON_DESKTOPDIRECTORY) return "WINDOWS\\ALL Users\\Desktop";
  if (csidl == CSIDL_COMMON_PROGRAMS) return "WINDOWS\\Start Menu\\Programs";
  return nullptr;
}
}  // namespace

void RemoveShortcutAndFolders(const char* name, int csidl, RunRecord* record) {
  char special[kBuf] = {};
  char full[kBuf] = {};
  char trimmed1[kBuf] = {};
  char trimmed2[kBuf] = {};

  if (!pf::SHGetSpecialFolderPathA(nullptr, special, csidl, FALSE)) special[0] = '\0';

  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  const char* fallback = Win9xFallback(csidl);
  if (pf::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
      fallback != nullptr) {
    char systemDir[MAX_PATH] = {};
    const UINT n = pf::GetSystemDirectoryA(systemDir, MAX_PATH);
    special[0] = '\0';
    if (n >= 3 && n < MAX_PATH && systemDir[1] == ':' && systemDir[2] == '\\') {
      systemDir[3] = '\0';
      ComposePath(special, kBuf, systemDir, fallback);
    }
  }
  // Without a special folder every path below would be relative to the
  // current drive: act on nothing.
  if (special[0] == '\0') return;

  // Only what lies strictly below the special folder, as Windows resolves
  // the path, through plain folders, is touched; a shortcut that is a link
  // is left.
  if (!IsFolderBelow(special, name, full, kBuf)) return;
  pf::SetFileAttributesA(full, FILE_ATTRIBUTE_NORMAL);
  pf::DeleteFileA(full);
  pf::SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA | SHCNF_FLUSH, special, nullptr);

  // A folder that is itself a link is handed on: EmptyAndRemoveFolderBelow removes
  // only the link.
  char folder[kBuf] = {};
  TrimLastComponent(name, trimmed1, kBuf);
  if (trimmed1[0] == '\0' || CheckBelow(special, trimmed1, folder, kBuf) == PathBelow::kRefused) return;
  EmptyAndRemoveFolderBelow(special, folder, record);

  TrimLastComponent(trimmed1, trimmed2, kBuf);
  if (trimmed2[0] == '\0' || CheckBelow(special, trimmed2, folder, kBuf) == PathBelow::kRefused) return;
  EmptyAndRemoveFolderBelow(special, folder, record);
}
