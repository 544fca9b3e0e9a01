#include "process/process_table.h"

#include <cstring>

#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/window.h"


PROCESSENTRY32 browserProcessTable[kBrowserTableCapacity];
DWORD browserProcessCount = 0;
int browserTableFilled = 0;

// Copies a name that fits the caller's 260 bytes; a longer one is not cut
// into another account's name.
static int CopyName(char* name, const char* from, size_t capacity) {
  size_t len = 0;  // strnlen, without the runtime's copy of it
  while (len < capacity && from[len] != '\0') ++len;
  if (len >= MAX_PATH) return 0;
  std::memcpy(name, from, len);
  name[len] = '\0';
  return 1;
}

int GetCurrentUserName(char* name) {
  name[0] = '\0';
  char work[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (pf::GetUserNameA(work, &size)) return CopyName(name, work, sizeof work);
  // Once more, with the size the first call reported.
  if (size == 0 || size > 0x10000) return 0;
  pf::ScopedBuffer larger(size);
  if (larger.Get() == nullptr || !pf::GetUserNameA(larger.Get(), &size)) return 0;
  return CopyName(name, larger.Get(), larger.size());
}

int GetProcessOwnerName(DWORD processId, char* name, DWORD capacity) {
  if (capacity == 0) return 0;
  name[0] = '\0';
  pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  pf::ScopedHandle token;
  if (!process.IsValid() || !pf::OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive()) ||
      !token.IsValid())
    return 0;
  DWORD needed = 0;
  pf::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
  if (needed == 0 || needed > 0x10000) return 0;
  pf::ScopedBuffer info(needed);
  if (info.Get() == nullptr ||
      !pf::GetTokenInformation(token.Get(), TokenUser, info.Get(), needed, &needed) ||
      needed < sizeof(TOKEN_USER))
    return 0;
  TOKEN_USER user;
  std::memcpy(&user, info.Get(), sizeof user);
  pf::ScopedBuffer domain(capacity);
  if (domain.Get() == nullptr) return 0;
  DWORD nameSize = capacity, domainSize = capacity;
  int use = 0;
  if (!pf::LookupAccountSidA(nullptr, user.User.Sid, name, &nameSize, domain.Get(), &domainSize,
                             &use)) {
    name[0] = '\0';
    return 0;
  }
  name[capacity - 1] = '\0';
  return 1;
}

namespace {
// S-1-5-18, -19, -20: LocalSystem, LocalService, NetworkService.
const BYTE kServiceSids[3][12] = {{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
                                  {1, 1, 0, 0, 0, 0, 0, 5, 19, 0, 0, 0},
                                  {1, 1, 0, 0, 0, 0, 0, 5, 20, 0, 0, 0}};

bool SameSid(const BYTE* a, const BYTE* b) {
  return a[0] != 0 && b[0] != 0 && pf::EqualSid(const_cast<BYTE*>(a), const_cast<BYTE*>(b));
}

// The token user's SID of a process open for query.
bool ReadAccountSid(HANDLE process, AccountSid* sid) {
  sid->bytes[0] = 0;
  pf::ScopedHandle token;
  if (!pf::OpenProcessToken(process, TOKEN_QUERY, token.Receive()) || !token.IsValid()) return false;
  // TOKEN_USER and the largest SID fit; the SID follows the record.
  DWORD_PTR info[(sizeof(TOKEN_USER) + sizeof(AccountSid)) / sizeof(DWORD_PTR) + 1];
  DWORD needed = 0;
  if (!pf::GetTokenInformation(token.Get(), TokenUser, info, sizeof info, &needed) || needed < sizeof(TOKEN_USER))
    return false;
  TOKEN_USER user;
  std::memcpy(&user, info, sizeof user);
  const BYTE* from = static_cast<const BYTE*>(user.User.Sid);
  const BYTE* end = reinterpret_cast<const BYTE*>(info) + sizeof info;
  if (from == nullptr || from < reinterpret_cast<const BYTE*>(info) || end - from < 8) return false;
  const size_t length = 8 + 4 * static_cast<size_t>(from[1]);  // revision, count, authority, sub-authorities
  if (from[0] == 0 || length > sizeof sid->bytes || static_cast<size_t>(end - from) < length) return false;
  std::memcpy(sid->bytes, from, length);
  return true;
}

bool InUsersSession(const UserIdentity& user, DWORD processId) {
  DWORD session = 0;
  return user.oneSession || (pf::ProcessIdToSessionId(processId, &session) && session == user.session);
}
}  // namespace

int ReadUserIdentity(UserIdentity* user) {
  user->own.bytes[0] = user->shell.bytes[0] = 0;
  user->session = 0;
  user->oneSession = false;
  const DWORD self = pf::GetCurrentProcessId();
  if (!pf::ProcessIdToSessionId(self, &user->session)) {
    if (pf::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return 0;
    user->oneSession = true;  // no Terminal Services: one session
  }
  pf::ScopedHandle own(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, self));
  if (!own.IsValid() || !ReadAccountSid(own.Get(), &user->own)) return 0;
  // The shell's account, when its process is in our session and is no
  // service's (an Explorer started by SYSTEM would make SYSTEM the user).
  HWND shell = pf::GetShellWindow();
  DWORD pid = 0;
  if (shell == nullptr || pf::GetWindowThreadProcessId(shell, &pid) == 0 || pid == 0) return 1;
  pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  AccountSid sid;
  if (!process.IsValid() || !InUsersSession(*user, pid) || !ReadAccountSid(process.Get(), &sid)) return 1;
  for (const BYTE* service : kServiceSids)
    if (SameSid(sid.bytes, service)) return 1;
  user->shell = sid;
  return 1;
}

bool IsUsersProcess(const UserIdentity& user, HANDLE process, DWORD processId) {
  AccountSid sid;
  if (!InUsersSession(user, processId) || !ReadAccountSid(process, &sid)) return false;
  return SameSid(sid.bytes, user.own.bytes) || SameSid(sid.bytes, user.shell.bytes);
}

void SnapshotUserProcesses(DWORD* count, PROCESSENTRY32* entries) {
  const DWORD capacity = *count;
  *count = 0;
  pf::ScopedHandle snapshot(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return;
  EnableOpeningOtherAccounts();
  UserIdentity user;
  if (!ReadUserIdentity(&user)) return;

  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!pf::Process32First(snapshot.Get(), &entry)) return;
  DWORD filled = 0;
  while (filled < capacity) {
    pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (process.IsValid() && IsUsersProcess(user, process.Get(), entry.th32ProcessID)) {
      entries[filled] = entry;
      // Readers take the name as a string: it ends within its field, whatever
      // Toolhelp delivered.
      entries[filled].szExeFile[MAX_PATH - 1] = '\0';
      ++filled;
    }
    if (filled >= capacity || !pf::Process32Next(snapshot.Get(), &entry)) break;
  }
  *count = filled;
}

const char* MbFileNamePart(const char* exePath) {
  // The runtime answers a name ending in a lone lead byte with its terminator.
  const char* slash = pf::MbsRChr(exePath, '\\');
  return slash != nullptr && *slash == '\\' ? slash + 1 : exePath;
}

int IsBrowserRunning(const char* exeName) {
  if (!browserTableFilled) {
    browserProcessCount = kBrowserTableCapacity;
    SnapshotUserProcesses(&browserProcessCount, browserProcessTable);
    browserTableFilled = 1;
  }
  UserIdentity user;
  bool identityRead = false;
  for (DWORD i = 0; i < browserProcessCount; ++i) {
    const char* part = MbFileNamePart(browserProcessTable[i].szExeFile);
    if (part[0] == '\0' || pf::MbsICmp(part, exeName) != 0) continue;
    if (!identityRead && !ReadUserIdentity(&user)) return 0;
    identityRead = true;
    const DWORD pid = browserProcessTable[i].th32ProcessID;
    pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (process.IsValid() && IsUsersProcess(user, process.Get(), pid)) return 1;
  }
  return 0;
}

void EnableOpeningOtherAccounts() { pf::EnableDebugPrivilege(); }
