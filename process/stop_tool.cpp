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

void TerminateByPrefix(const char* prefix1, const char* prefix2, const char* prefix3,
                       const char* prefix4) {
  PROCESSENTRY32 table[kTerminateTableCapacity];
  DWORD count = kTerminateTableCapacity;
  SnapshotUserProcesses(&count, table);
  const char* prefixes[4] = {prefix1, prefix2, prefix3, prefix4};
  for (DWORD i = 0; i < count; ++i) {
    const char* part = ByteFileNamePart(table[i].szExeFile);
    bool match = false;
    for (const char* prefix : prefixes) {
      if (PrefixMatches(part, prefix)) {
        match = true;
        break;
      }
    }
    if (!match) continue;
    pf::ScopedHandle process(pf::OpenProcess(kProcessAllAccessNt4, FALSE, table[i].th32ProcessID));
    if (!process.IsValid()) continue;
    pf::TerminateProcess(process.Get(), 0);
    pf::WaitForSingleObject(process.Get(), 100);
    pf::Sleep(500);
  }
}

LRESULT CloseToolWindow(const char* title, uint16_t commandId) {
  HWND window = pf::FindWindowA(nullptr, title);
  if (window == nullptr) return 0;
  DWORD_PTR answer = 0;
  if (!pf::SendMessageTimeoutA(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0,
                               SMTO_ABORTIFHUNG | SMTO_BLOCK, kToolWindowTimeoutMs, &answer))
    return 0;
  return static_cast<LRESULT>(answer);
}
