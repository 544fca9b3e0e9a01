#include "process/process_table.h"

#include <cstdlib>
#include <cstring>

#include "platform/handles.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {
// A zero-filled work buffer released when the call returns; no exceptions.
class WorkBuffer {
 public:
  explicit WorkBuffer(size_t size) : data_(static_cast<char*>(std::calloc(size, 1))), size_(size) {}
  ~WorkBuffer() { std::free(data_); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  char* data() const { return data_; }
  size_t size() const { return data_ ? size_ : 0; }

 private:
  char* data_;
  size_t size_;
};
}  // namespace

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
  WorkBuffer larger(size);
  if (larger.data() == nullptr || !pf::GetUserNameA(larger.data(), &size)) return 0;
  return CopyName(name, larger.data(), larger.size());
}

int GetProcessOwnerName(DWORD processId, char* name, DWORD capacity) {
  if (capacity == 0) return 0;
  name[0] = '\0';
  pf::ScopedHandle process(pf::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process.IsValid()) return 0;
  return GetOwnerNameOfProcess(process.Get(), name, capacity);
}

int GetOwnerNameOfProcess(HANDLE process, char* name, DWORD capacity) {
  if (capacity == 0) return 0;
  name[0] = '\0';
  pf::ScopedHandle token;
  if (!pf::OpenProcessToken(process, TOKEN_QUERY, token.Receive()) || !token.IsValid())
    return 0;
  DWORD needed = 0;
  pf::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
  if (needed == 0 || needed > 0x10000) return 0;
  WorkBuffer info(needed);
  if (info.data() == nullptr ||
      !pf::GetTokenInformation(token.Get(), TokenUser, info.data(), needed, &needed) ||
      needed < sizeof(TOKEN_USER))
    return 0;
  TOKEN_USER user;
  std::memcpy(&user, info.data(), sizeof user);
  WorkBuffer domain(capacity);
  if (domain.data() == nullptr) return 0;
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
  EnableOpeningOtherAccounts();
  char shellUser[MAX_PATH];
  GetShellUserName(shellUser);

  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!pf::Process32First(snapshot.Get(), &entry)) return;
  DWORD filled = 0;
  while (filled < capacity) {
    char owner[MAX_PATH];
    GetProcessOwnerName(entry.th32ProcessID, owner, MAX_PATH);
    if (std::strcmp(owner, user) == 0 || (shellUser[0] != '\0' && std::strcmp(owner, shellUser) == 0)) {
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
  for (DWORD i = 0; i < browserProcessCount; ++i) {
    const char* part = MbFileNamePart(browserProcessTable[i].szExeFile);
    if (part[0] == '\0' || pf::MbsICmp(part, exeName) != 0) continue;
    char owner[256], ownOwner[256];
    GetProcessOwnerName(browserProcessTable[i].th32ProcessID, owner, sizeof owner);
    GetProcessOwnerName(pf::GetCurrentProcessId(), ownOwner, sizeof ownOwner);
    if (pf::MbsICmp(owner, ownOwner) == 0) return 1;
    char shellOwner[MAX_PATH];
    if (GetShellUserName(shellOwner) && pf::MbsICmp(owner, shellOwner) == 0) return 1;
  }
  return 0;
}

int GetShellUserName(char* name) {
  name[0] = '\0';
  HWND shell = pf::GetShellWindow();
  DWORD pid = 0;
  if (shell == nullptr || pf::GetWindowThreadProcessId(shell, &pid) == 0 || pid == 0) return 0;
  return GetProcessOwnerName(pid, name, MAX_PATH);
}

void EnableOpeningOtherAccounts() { pf::EnableDebugPrivilege(); }
