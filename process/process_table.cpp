#include "process/process_table.h"

#include <cstring>
#include <vector>

#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/process.h"

PROCESSENTRY32 browserProcessTable[kBrowserTableCapacity];
DWORD browserProcessCount = 0;
int browserTableFilled = 0;

int GetCurrentUserName(char* name) {
  name[0] = '\0';
  char work[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const char* got = nullptr;
  std::vector<char> larger;
  if (pf::GetUserNameA(work, &size)) {
    got = work;
  } else if (size > 0 && size <= 0x10000) {
    larger.assign(size, '\0');
    if (pf::GetUserNameA(larger.data(), &size)) got = larger.data();
  }
  if (got == nullptr) return 0;
  // A name that does not fit is not cut into another account's name.
  const size_t len = strnlen(got, got == work ? sizeof work : larger.size());
  if (len >= MAX_PATH) return 0;
  std::memcpy(name, got, len);
  name[len] = '\0';
  return 1;
}

int GetProcessOwnerName(DWORD processId, char* name, DWORD capacity) {
  if (capacity == 0) return 0;
  name[0] = '\0';
  pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process.IsValid()) return 0;
  pf::ScopedHandle token;
  if (!pf::OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive()) || !token.IsValid())
    return 0;
  DWORD needed = 0;
  pf::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
  if (needed == 0 || needed > 0x10000) return 0;
  std::vector<unsigned char> info(needed);
  if (!pf::GetTokenInformation(token.Get(), TokenUser, info.data(), needed, &needed)) return 0;
  TOKEN_USER user;
  std::memcpy(&user, info.data(), sizeof user);
  std::vector<char> domain(capacity);
  DWORD nameSize = capacity, domainSize = capacity;
  int use = 0;
  if (!pf::LookupAccountSidA(nullptr, user.User.Sid, name, &nameSize, domain.data(), &domainSize,
                             &use)) {
    name[0] = '\0';
    return 0;
  }
  name[capacity - 1] = '\0';
  return 1;
}

void SnapshotUserProcesses(DWORD* count, PROCESSENTRY32* entries) {
  const DWORD capacity = *count;
  *count = 0;
  pf::ScopedHandle snapshot(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return;
  char user[MAX_PATH];
  // Without our own account name no process can be shown to be ours.
  if (!GetCurrentUserName(user) || user[0] == '\0') return;

  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!pf::Process32First(snapshot.Get(), &entry)) return;
  DWORD filled = 0;
  while (filled < capacity) {
    char owner[MAX_PATH];
    GetProcessOwnerName(entry.th32ProcessID, owner, MAX_PATH);
    if (std::strcmp(owner, user) == 0) entries[filled++] = entry;
    if (filled >= capacity || !pf::Process32Next(snapshot.Get(), &entry)) break;
  }
  *count = filled;
}

const char* MbFileNamePart(const char* exePath) {
  const char* slash = pf::MbsRChr(exePath, '\\');
  return slash != nullptr ? slash + 1 : exePath;
}

int IsBrowserRunning(const char* exeName) {
  if (!browserTableFilled) {
    browserProcessCount = kBrowserTableCapacity;
    SnapshotUserProcesses(&browserProcessCount, browserProcessTable);
    browserTableFilled = 1;
  }
  for (DWORD i = 0; i < browserProcessCount; ++i) {
    const char* part = MbFileNamePart(browserProcessTable[i].szExeFile);
    if (part[0] == '\0' || pf::MbsICmp(part, exeName) != 0) continue;
    char owner[256], ownOwner[256];
    GetProcessOwnerName(browserProcessTable[i].th32ProcessID, owner, sizeof owner);
    GetProcessOwnerName(pf::GetCurrentProcessId(), ownOwner, sizeof ownOwner);
    if (pf::MbsICmp(owner, ownOwner) == 0) return 1;
  }
  return 0;
}
