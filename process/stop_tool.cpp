#include "process/stop_tool.h"

#include <cstring>

#include "platform/handles.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/window.h"
#include "process/process_table.h"

namespace {
constexpr DWORD kTerminateTableCapacity = 200;
constexpr UINT kToolWindowTimeoutMs = 5000;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Byte-wise, ASCII letters folded, as the C runtime's _strnicmp in the C locale.
int AsciiStrNICmp(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char ca = static_cast<unsigned char>(AsciiLower(a[i]));
    const unsigned char cb = static_cast<unsigned char>(AsciiLower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

const char* ByteFileNamePart(const char* exePath) {
  const char* slash = std::strrchr(exePath, '\\');
  return slash != nullptr ? slash + 1 : exePath;
}
}  // namespace

bool PrefixMatches(const char* fileName, const char* prefix) {
  if (fileName == nullptr || prefix == nullptr || fileName[0] == '\0' || prefix[0] == '\0')
    return false;
  const size_t lf = std::strlen(fileName), lp = std::strlen(prefix);
  return AsciiStrNICmp(fileName, prefix, lf < lp ? lf : lp) == 0;
}

namespace {
// The process behind the handle is still the one the snapshot showed: the
// user's (IsUsersProcess) and its image still matching the prefix. An id from
// the snapshot may have been reused meanwhile; the handle cannot be. Before
// Vista the image is read as a device path (its file name is all that is
// compared); Windows 2000 has neither call: the owner alone decides there.
bool StillOurs(HANDLE process, DWORD processId, const UserIdentity& user, const char* prefix) {
  if (!IsUsersProcess(user, process, processId)) return false;
  char image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (pf::QueryFullProcessImageNameA(process, 0, image, &size)) {
    if (size >= MAX_PATH) return false;
    image[size] = '\0';
  } else if (pf::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
    return false;
  } else if (pf::GetProcessImageFileNameA(process, image, MAX_PATH) == 0) {
    return pf::GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
  }
  image[MAX_PATH - 1] = '\0';  // its answer is no length to trust
  return PrefixMatches(ByteFileNamePart(image), prefix);
}
}  // namespace

void TerminateByPrefix(const char* prefix1, const char* prefix2, const char* prefix3,
                       const char* prefix4) {
  PROCESSENTRY32 table[kTerminateTableCapacity];
  DWORD count = kTerminateTableCapacity;
  SnapshotUserProcesses(&count, table);
  if (count == 0) return;
  UserIdentity user;
  if (!ReadUserIdentity(&user)) return;
  const DWORD self = pf::GetCurrentProcessId();
  const char* prefixes[4] = {prefix1, prefix2, prefix3, prefix4};
  for (DWORD i = 0; i < count; ++i) {
    if (table[i].th32ProcessID == self) continue;  // never the program itself
    const char* part = ByteFileNamePart(table[i].szExeFile);
    const char* matched = nullptr;
    for (const char* prefix : prefixes) {
      if (PrefixMatches(part, prefix)) {
        matched = prefix;
        break;
      }
    }
    if (matched == nullptr) continue;
    pf::ScopedHandle process(pf::OpenProcess(kProcessAllAccessNt4, FALSE, table[i].th32ProcessID));
    if (!process.IsValid() || !StillOurs(process.Get(), table[i].th32ProcessID, user, matched)) continue;
    pf::TerminateProcess(process.Get(), 0);
    pf::WaitForSingleObject(process.Get(), 100);
    pf::Sleep(500);
  }
}

// FindWindowA with "" would take any untitled window for the tool's.
static HWND WindowTitled(const char* title) {
  return title != nullptr && title[0] != '\0' ? pf::FindWindowA(nullptr, title) : nullptr;
}

LRESULT CloseToolWindow(const char* title, uint16_t commandId, const char* otherTitle) {
  HWND window = WindowTitled(title);
  if (window == nullptr && otherTitle != nullptr && (title == nullptr || std::strcmp(title, otherTitle) != 0))
    window = WindowTitled(otherTitle);
  if (window == nullptr) return 0;
  DWORD_PTR answer = 0;
  if (!pf::SendMessageTimeoutA(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0,
                               SMTO_ABORTIFHUNG | SMTO_BLOCK, kToolWindowTimeoutMs, &answer))
    return 0;
  return static_cast<LRESULT>(answer);
}
