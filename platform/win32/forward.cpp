// The real platform: thin forwarding to the ANSI Windows calls.
#include <mbstring.h>
#include <cstring>
#include <objbase.h>
#include <shlwapi.h>

#include "platform/files.h"
#include "platform/handles.h"
#include "platform/loader.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"

#ifndef _WIN64
// The 32-bit records the old tool's contemporaries pass around.
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA");
#endif
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");

namespace {
// Calls newer than the oldest system the program runs on are looked up at
// each use, so that the program still loads where they are missing. Nothing
// is cached: the lookups are reached from the dialog's thread and the run's,
// and a function-local static would need the runtime's guard (and with it
// the C++ exception machinery, some 70 KB of the exe). The DLLs are ones the
// exe imports, so looking up an export loads nothing.
FARPROC Export(const char* dll, const char* name) {
  HMODULE module = ::GetModuleHandleA(dll);
  return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}
FARPROC Kernel32Export(const char* name) { return Export("kernel32.dll", name); }
template <typename Fn>
Fn As(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}
// What a looked-up call gives where the system lacks it.
template <typename T>
T Missing(T result) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return result;
}
// An export of a system DLL the exe does not import, the DLL loaded by its
// full path in the system directory (never by bare name, which would be looked
// for beside the exe, wherever the browser saved it) and kept: a second load
// only counts up.
FARPROC SystemExport(const char* dll, const char* name) {
  auto load = As<HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD)>(Kernel32Export("LoadLibraryExA"));
  char path[MAX_PATH];
  const UINT n = ::GetSystemDirectoryA(path, MAX_PATH);
  const size_t len = std::strlen(dll);
  if (load == nullptr || n == 0 || n + 1 + len >= MAX_PATH) return nullptr;  // a path that does not fit is none
  path[n] = '\\';
  CopyMemory(path + n + 1, dll, len + 1);
  const HMODULE module = load(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}
}  // namespace

namespace pf {

int SetDefaultDllDirectories(DWORD directoryFlags) {
  auto fn = As<BOOL(WINAPI*)(DWORD)>(Kernel32Export("SetDefaultDllDirectories"));
  return fn != nullptr ? fn(directoryFlags) : kMissing;
}
int SetDllDirectoryA(const char* path) {
  auto fn = As<BOOL(WINAPI*)(const char*)>(Kernel32Export("SetDllDirectoryA"));
  return fn != nullptr ? fn(path) : kMissing;
}
int SetRedirectionTrustPolicy(DWORD flags) {
  // PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY is one DWORD of flags.
  auto fn = As<BOOL(WINAPI*)(int, void*, SIZE_T)>(Kernel32Export("SetProcessMitigationPolicy"));
  return fn != nullptr ? fn(kProcessRedirectionTrustPolicy, &flags, sizeof flags) : kMissing;
}
void GetStartupInfoA(STARTUPINFOA* info) { ::GetStartupInfoA(info); }

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
  return ::RegOpenKeyExA(root, subKey, options, access, result);
}
LONG RegDeleteValueA(HKEY key, const char* valueName) { return ::RegDeleteValueA(key, valueName); }
LONG RegDeleteKeyA(HKEY root, const char* subKey) { return ::RegDeleteKeyA(root, subKey); }
LONG SHDeleteKeyA(HKEY root, const char* subKey) { return ::SHDeleteKeyA(root, subKey); }
LONG RegCloseKey(HKEY key) { return ::RegCloseKey(key); }
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size) {
  return ::RegQueryValueExA(key, valueName, nullptr, type, data, size);
}

BOOL DeleteFileA(const char* path) { return ::DeleteFileA(path); }
BOOL RemoveDirectoryA(const char* path) { return ::RemoveDirectoryA(path); }
BOOL MoveFileExA(const char* existing, const char* newName, DWORD flags) {
  return ::MoveFileExA(existing, newName, flags);
}
BOOL SetFileAttributesA(const char* path, DWORD attributes) {
  return ::SetFileAttributesA(path, attributes);
}
DWORD GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  return ::FindFirstFileA(pattern, data);
}
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) { return ::FindNextFileA(find, data); }
BOOL FindClose(HANDLE find) { return ::FindClose(find); }
DWORD GetTempPathA(DWORD bufferLength, char* buffer) { return ::GetTempPathA(bufferLength, buffer); }
UINT GetTempFileNameA(const char* pathName, const char* prefix, UINT unique, char* tempFileName) {
  return ::GetTempFileNameA(pathName, prefix, unique, tempFileName);
}
DWORD GetFullPathNameA(const char* name, DWORD bufferLength, char* buffer, char** filePart) {
  return ::GetFullPathNameA(name, bufferLength, buffer, filePart);
}
DWORD GetLongPathNameA(const char* path, char* buffer, DWORD bufferLength) {
  // Not imported: Windows 95 and NT 4 lack it.
  const auto fn = As<DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD)>(Kernel32Export("GetLongPathNameA"));
  return fn != nullptr ? fn(path, buffer, bufferLength) : Missing(0ul);
}
long GetFinalPathOfFolder(const char* path, char* buffer, DWORD bufferLength) {
  auto fn = As<DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD)>(Kernel32Export("GetFinalPathNameByHandleA"));
  if (fn == nullptr) return kMissing;
  ScopedHandle folder(::CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return folder.IsValid() ? static_cast<long>(fn(folder.Get(), buffer, bufferLength, 0)) : 0;
}

namespace {
// S-1-5-18 (SYSTEM) and S-1-5-32-544 (Administrators), as the system lays them out.
const BYTE kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
bool IsSid(PSID sid, const BYTE* known) {
  return sid != nullptr && ::EqualSid(sid, const_cast<BYTE*>(known));
}
// Windows 9x keeps no security and opens no folder as a file.
bool KeepsNoSecurity() {
  OSVERSIONINFOA v;
  ZeroMemory(&v, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  return ::GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}
// The entry at path itself: a link there is opened as the link.
HANDLE OpenItself(const char* path, DWORD access) {
  return ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}
}  // namespace

int GetFileIdentity(const char* path, FileIdentity* identity) {
  if (KeepsNoSecurity()) return kMissing;
  ScopedHandle item(OpenItself(path, FILE_READ_ATTRIBUTES));
  BY_HANDLE_FILE_INFORMATION info;
  if (!item.IsValid() || !::GetFileInformationByHandle(item.Get(), &info)) return 0;
  identity->volume = info.dwVolumeSerialNumber;
  identity->indexHigh = info.nFileIndexHigh;
  identity->indexLow = info.nFileIndexLow;
  identity->attributes = info.dwFileAttributes;
  return 1;
}
BOOL GetVolumePathNameA(const char* path, char* root, DWORD rootLength) {
  return ::GetVolumePathNameA(path, root, rootLength);
}
int CreateAdminOnlyFolder(const char* path) {
  typedef BOOL(WINAPI * Fn)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
  auto fn = As<Fn>(Export("advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA"));
  if (fn == nullptr || KeepsNoSecurity()) return kMissing;
  PSECURITY_DESCRIPTOR sd = nullptr;
  // Owner Administrators; protected DACL: full control, inherited by files
  // and folders inside, for SYSTEM and Administrators.
  if (!fn("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", 1 /* SDDL_REVISION_1 */, &sd, nullptr)) return 0;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, sd, FALSE};
  const BOOL made = ::CreateDirectoryA(path, &attributes);
  const DWORD error = ::GetLastError();
  ::LocalFree(sd);
  ::SetLastError(error);
  return made ? 1 : 0;
}
namespace {
// Enables a privilege the administrators' token holds but has not enabled.
bool EnablePrivilege(const char* name) {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) return false;
  TOKEN_PRIVILEGES privileges;
  ZeroMemory(&privileges, sizeof privileges);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  // Succeeds without enabling anything when the token lacks the privilege.
  return ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
         ::GetLastError() == ERROR_SUCCESS;
}
// A plain folder (folder set) or a plain file, never a link.
bool IsPlainItem(HANDLE item, BY_HANDLE_FILE_INFORMATION* info, bool folder) {
  return ::GetFileInformationByHandle(item, info) &&
         (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
             (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u);
}

// Owner Administrators and a protected DACL for SYSTEM and Administrators
// only, set on the entry alone through its handle (what a folder holds keeps
// its own), taking ownership where its DACL does not grant WRITE_DAC.
int MakeAdminOnly(const char* path, bool folder) {
  typedef BOOL(WINAPI * Fn)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
  auto fn = As<Fn>(Export("advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA"));
  if (fn == nullptr || KeepsNoSecurity()) return kMissing;
  const DWORD access = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;
  ScopedHandle item(OpenItself(path, access));
  BY_HANDLE_FILE_INFORMATION info, again;
  if (!item.IsValid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Not granted by its DACL: take ownership first (the privilege grants
    // WRITE_OWNER only), then the owner may write the DACL.
    EnablePrivilege("SeTakeOwnershipPrivilege");
    ScopedHandle owner(OpenItself(path, WRITE_OWNER | FILE_READ_ATTRIBUTES));
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!owner.IsValid() || !IsPlainItem(owner.Get(), &info, folder) || !fn("O:BA", 1, &sd, nullptr)) return 0;
    const BOOL taken = ::SetKernelObjectSecurity(owner.Get(), OWNER_SECURITY_INFORMATION, sd);
    ::LocalFree(sd);
    if (!taken) return 0;
    *item.Receive() = OpenItself(path, access);
    // Still the entry whose owner changed.
    if (!item.IsValid() || !IsPlainItem(item.Get(), &again, folder) || again.nFileIndexLow != info.nFileIndexLow ||
        again.nFileIndexHigh != info.nFileIndexHigh || again.dwVolumeSerialNumber != info.dwVolumeSerialNumber)
      return 0;
  }
  if (!item.IsValid() || !IsPlainItem(item.Get(), &info, folder)) return 0;
  PSECURITY_DESCRIPTOR sd = nullptr;
  // As CreateAdminOnlyFolder makes them; a folder's entries keep theirs.
  if (!fn(folder ? "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", 1, &sd, nullptr))
    return 0;
  const BOOL set = ::SetKernelObjectSecurity(item.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd);
  const DWORD error = ::GetLastError();
  ::LocalFree(sd);
  ::SetLastError(error);
  return set ? 1 : 0;
}
}  // namespace

int MakeFolderAdminOnly(const char* path) { return MakeAdminOnly(path, true); }
int MakeFileAdminOnly(const char* path) { return MakeAdminOnly(path, false); }
BOOL GetVolumeFlags(const char* root, DWORD* flags) {
  if (!::GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, flags, nullptr, 0)) return FALSE;
  // Windows 9x keeps no security, whatever a volume reports.
  if (KeepsNoSecurity()) *flags &= ~static_cast<DWORD>(FILE_PERSISTENT_ACLS);
  return TRUE;
}
UINT GetSystemWindowsDirectoryA(char* buffer, UINT size) {
  auto fn = As<UINT(WINAPI*)(LPSTR, UINT)>(Kernel32Export("GetSystemWindowsDirectoryA"));
  return fn != nullptr ? fn(buffer, size) : Missing(0u);
}
long GetItemSecurity(const char* path, bool folder, void* buffer, DWORD size) {
  if (KeepsNoSecurity()) return kMissing;
  ScopedHandle item(OpenItself(path, READ_CONTROL | FILE_READ_ATTRIBUTES));
  BY_HANDLE_FILE_INFORMATION info;
  if (!item.IsValid() || !::GetFileInformationByHandle(item.Get(), &info)) return 0;
  const DWORD kind = info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  if (kind != (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  DWORD needed = 0;
  // The self-relative form; the length it needs is the length it wrote.
  if (!::GetKernelObjectSecurity(item.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer, size,
                                 &needed))
    return 0;
  return static_cast<long>(needed <= size ? needed : size);
}
namespace {
// RM_PROCESS_INFO (restartmanager.h), which mingw's headers may lack.
struct RmUniqueProcess {
  DWORD pid;
  FILETIME started;
};
struct RmProcessInfo {
  RmUniqueProcess process;
  WCHAR appName[256];
  WCHAR serviceShortName[64];
  int appType;
  ULONG appStatus;
  DWORD session;
  BOOL restartable;
};
}  // namespace

long WhoHoldsFile(const char* path, FileHolder* holders, unsigned capacity) {
  typedef DWORD(WINAPI * Start)(DWORD*, DWORD, WCHAR*);
  typedef DWORD(WINAPI * End)(DWORD);
  typedef DWORD(WINAPI * Register)(DWORD, UINT, const WCHAR**, UINT, void*, UINT, const WCHAR**);
  typedef DWORD(WINAPI * List)(DWORD, UINT*, UINT*, RmProcessInfo*, DWORD*);
  auto start = As<Start>(SystemExport("rstrtmgr.dll", "RmStartSession"));
  auto end = As<End>(SystemExport("rstrtmgr.dll", "RmEndSession"));
  auto add = As<Register>(SystemExport("rstrtmgr.dll", "RmRegisterResources"));
  auto list = As<List>(SystemExport("rstrtmgr.dll", "RmGetList"));
  if (start == nullptr || end == nullptr || add == nullptr || list == nullptr) return kMissing;
  WCHAR wide[MAX_PATH];
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) <= 0) return -2;
  DWORD session = 0;
  WCHAR key[33] = {};  // CCH_RM_SESSION_KEY + 1
  if (start(&session, 0, key) != ERROR_SUCCESS) return -2;
  const WCHAR* files[1] = {wide};
  long result = -2;
  RmProcessInfo info[8];
  UINT needed = 0, count = 8;
  DWORD reasons = 0;
  if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    // More holders than room: their list is not given, so nothing can be told.
    if (list(session, &needed, &count, info, &reasons) == ERROR_SUCCESS) {
      for (UINT i = 0; i < count && i < capacity; ++i) {
        holders[i].pid = info[i].process.pid;
        holders[i].session = info[i].session;
        holders[i].kind = info[i].appType;
        const WCHAR* name = info[i].appName[0] != 0 ? info[i].appName : info[i].serviceShortName;
        UINT n = 0;
        for (; name[n] != 0 && n + 1 < 64; ++n) holders[i].name[n] = name[n];
        holders[i].name[n] = 0;
      }
      result = static_cast<long>(count);
    }
  }
  end(session);
  return result;
}
int IsAdminOnlyFolder(const char* path) {
  ScopedHandle item(OpenItself(path, READ_CONTROL | FILE_READ_ATTRIBUTES));
  BY_HANDLE_FILE_INFORMATION info;
  if (!item.IsValid() || !::GetFileInformationByHandle(item.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY)
    return 0;
  DWORD buffer[256];  // ours takes about 100 bytes; a larger one is not ours
  DWORD needed = 0;
  PSECURITY_DESCRIPTOR sd = buffer;
  if (!::GetKernelObjectSecurity(item.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd,
                                 sizeof buffer, &needed))
    return 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !IsSid(owner, kAdministratorsSid) ||
      !::GetSecurityDescriptorControl(sd, &control, &revision) || !(control & SE_DACL_PROTECTED) ||
      !::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || dacl == nullptr)
    return 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) return 0;
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    if (!IsSid(sid, kSystemSid) && !IsSid(sid, kAdministratorsSid)) return 0;
  }
  return 1;
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  return ::CreateToolhelp32Snapshot(flags, processId);
}
BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) {
  return ::Process32First(snapshot, entry);
}
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
  return ::Process32Next(snapshot, entry);
}
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  return ::OpenProcess(access, inherit, processId);
}
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  return ::OpenProcessToken(process, access, token);
}
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, void* info, DWORD length,
                         DWORD* returnLength) {
  return ::GetTokenInformation(token, cls, info, length, returnLength);
}
BOOL LookupAccountSidA(const char* systemName, PSID sid, char* name, DWORD* nameSize, char* domain,
                       DWORD* domainSize, int* use) {
  SID_NAME_USE u = SidTypeUnknown;
  BOOL ok = ::LookupAccountSidA(systemName, sid, name, nameSize, domain, domainSize, &u);
  if (use != nullptr) *use = static_cast<int>(u);
  return ok;
}
BOOL EqualSid(PSID a, PSID b) { return ::EqualSid(a, b); }
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  const auto fn = As<BOOL(WINAPI*)(DWORD, DWORD*)>(Kernel32Export("ProcessIdToSessionId"));
  return fn != nullptr ? fn(processId, sessionId) : Missing(FALSE);
}
BOOL TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(process, exitCode); }
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}
DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }

BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, char* name, DWORD* size) {
  typedef BOOL(WINAPI * Fn)(HANDLE, DWORD, LPSTR, PDWORD);
  const Fn fn = As<Fn>(Kernel32Export("QueryFullProcessImageNameA"));
  return fn != nullptr ? fn(process, flags, name, size) : Missing(FALSE);
}
DWORD GetProcessImageFileNameA(HANDLE process, char* name, DWORD size) {
  const auto fn = As<DWORD(WINAPI*)(HANDLE, LPSTR, DWORD)>(SystemExport("psapi.dll", "GetProcessImageFileNameA"));
  return fn != nullptr ? fn(process, name, size) : Missing(0ul);
}
HANDLE CreateJobObjectA(void* attributes, const char* name) {
  typedef HANDLE(WINAPI * Fn)(LPSECURITY_ATTRIBUTES, LPCSTR);
  const Fn fn = As<Fn>(Kernel32Export("CreateJobObjectA"));
  return fn != nullptr ? fn(static_cast<LPSECURITY_ATTRIBUTES>(attributes), name)
                       : Missing<HANDLE>(nullptr);
}
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  typedef BOOL(WINAPI * Fn)(HANDLE, HANDLE);
  const Fn fn = As<Fn>(Kernel32Export("AssignProcessToJobObject"));
  return fn != nullptr ? fn(job, process) : Missing(FALSE);
}
BOOL QueryJobActiveProcesses(HANDLE job, DWORD* active) {
  typedef BOOL(WINAPI * Fn)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);
  const Fn fn = As<Fn>(Kernel32Export("QueryInformationJobObject"));
  if (fn == nullptr) return Missing(FALSE);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!fn(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) return FALSE;
  *active = info.ActiveProcesses;
  return TRUE;
}
BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
BOOL GetUserNameA(char* buffer, DWORD* size) { return ::GetUserNameA(buffer, size); }
DWORD GetLastError() { return ::GetLastError(); }

HWND FindWindowA(const char* className, const char* windowName) {
  return ::FindWindowA(className, windowName);
}
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result) {
  return ::SendMessageTimeoutA(hwnd, msg, wParam, lParam, flags, timeoutMs, result);
}
namespace {
// The text as Unicode in a buffer of the caller's, or false when the system
// cannot read it in that code page (not installed, invalid bytes, too long).
bool ToUnicode(const char* text, UINT codePage, wchar_t* wide, int wideCap) {
  if (text == nullptr) return false;
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, wide, wideCap) > 0;
}
constexpr int kTextCap = 512;
}  // namespace

int MessageBoxInCodePage(HWND owner, const char* text, const char* caption, UINT codePage, UINT type) {
  wchar_t wideText[kTextCap], wideCaption[kTextCap];
  if (!UsesAnsiWindowCalls() && ToUnicode(text, codePage, wideText, kTextCap) &&
      ToUnicode(caption, codePage, wideCaption, kTextCap))
    return ::MessageBoxW(owner, wideText, wideCaption, type);
  return ::MessageBoxA(owner, text, caption, type);
}
BOOL SetWindowTextInCodePage(HWND hwnd, const char* text, UINT codePage) {
  wchar_t wide[kTextCap];
  if (!UsesAnsiWindowCalls() && ToUnicode(text, codePage, wide, kTextCap)) return ::SetWindowTextW(hwnd, wide);
  return ::SetWindowTextA(hwnd, text);
}

int MessageBoxUnicode(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type, UINT narrowCodePage) {
  if (!UsesAnsiWindowCalls())
    return ::MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text), reinterpret_cast<const wchar_t*>(caption), type);
  char narrowText[2 * kTextCap * 2], narrowCaption[64];
  // What that code page cannot hold shows as its default character.
  if (::WideCharToMultiByte(narrowCodePage, 0, reinterpret_cast<const wchar_t*>(text), -1, narrowText,
                            sizeof narrowText, nullptr, nullptr) == 0 ||
      ::WideCharToMultiByte(narrowCodePage, 0, reinterpret_cast<const wchar_t*>(caption), -1, narrowCaption,
                            sizeof narrowCaption, nullptr, nullptr) == 0)
    return 0;
  return ::MessageBoxA(owner, narrowText, narrowCaption, type);
}

BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) {
  return ::SHGetSpecialFolderPathA(owner, path, csidl, create);
}
void SHChangeNotify(LONG eventId, UINT flags, const void* item1, const void* item2) {
  ::SHChangeNotify(eventId, flags, item1, item2);
}
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info) { return ::ShellExecuteExA(info); }
BOOL PathFileExistsA(const char* path) { return ::PathFileExistsA(path); }
HRESULT AssocQueryExecutable(DWORD flags, const char* assoc, char* out, DWORD* outSize) {
  return ::AssocQueryStringA(flags, ASSOCSTR_EXECUTABLE, assoc, nullptr, out, outSize);
}

LANGID GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }
BOOL GetVersionExA(OSVERSIONINFOA* info) { return ::GetVersionExA(info); }
UINT GetSystemDirectoryA(char* buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }
UINT GetWindowsDirectoryA(char* buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  return ::GetModuleFileNameA(module, buffer, size);
}
void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
BOOL IsDBCSLeadByte(BYTE c) { return ::IsDBCSLeadByte(c); }

UINT GetACP() { return ::GetACP(); }
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide, int wideCap) {
  return ::MultiByteToWideChar(codePage, flags, text, length, wide, wideCap);
}
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* text, int textCap,
                        const char* defaultChar, BOOL* usedDefaultChar) {
  return ::WideCharToMultiByte(codePage, flags, wide, length, text, textCap, defaultChar, usedDefaultChar);
}

const char* MbsRChr(const char* s, unsigned ch) {
  return reinterpret_cast<const char*>(_mbsrchr(reinterpret_cast<const unsigned char*>(s), ch));
}
int MbsICmp(const char* a, const char* b) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(a),
                  reinterpret_cast<const unsigned char*>(b));
}

// ---- the uninstaller's start and the accounts of the user ---------------------
BOOL CreateProcessA(const char* application, char* commandLine, DWORD creationFlags, const void* environment,
                    const char* directory, STARTUPINFOA* startup, PROCESS_INFORMATION* info) {
  return ::CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, creationFlags,
                          const_cast<void*>(environment), directory, startup, info);
}
BOOL CreateEnvironmentBlock(void** block) {
  const auto fn = As<BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL)>(SystemExport("userenv.dll", "CreateEnvironmentBlock"));
  return fn != nullptr ? fn(block, nullptr, FALSE) : Missing(FALSE);
}
void DestroyEnvironmentBlock(void* block) {
  const auto fn = As<BOOL(WINAPI*)(LPVOID)>(SystemExport("userenv.dll", "DestroyEnvironmentBlock"));
  if (fn != nullptr) fn(block);
}
BOOL SetEnvironmentVariableA(const char* name, const char* value) {
  // Not imported: kernel32 has it on every system.
  const auto fn = As<BOOL(WINAPI*)(LPCSTR, LPCSTR)>(Kernel32Export("SetEnvironmentVariableA"));
  return fn != nullptr ? fn(name, value) : Missing(FALSE);
}
int RunsElevated() {
  ScopedHandle token;
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  // The class is unknown before Vista, which has no elevation: there the
  // Administrators group decides.
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()) &&
      ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size))
    return elevation.TokenIsElevated != 0;
  const auto member = As<BOOL(WINAPI*)(HANDLE, PSID, PBOOL)>(Export("advapi32.dll", "CheckTokenMembership"));
  BOOL is = FALSE;
  return member != nullptr && member(nullptr, const_cast<BYTE*>(kAdministratorsSid), &is) ? is != 0 : kMissing;
}
DWORD ResumeThread(HANDLE thread) { return ::ResumeThread(thread); }
BOOL AllowJobBreakaway(HANDLE job) {
  auto fn = As<BOOL(WINAPI*)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD)>(Kernel32Export("SetInformationJobObject"));
  if (fn == nullptr) return Missing(FALSE);
  // The breakaway flag is only taken in the extended record.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  return fn(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}
BOOL QueryJobProcessIds(HANDLE job, DWORD* ids, DWORD capacity, DWORD* count) {
  auto fn = As<BOOL(WINAPI*)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD)>(
      Kernel32Export("QueryInformationJobObject"));
  if (fn == nullptr) return Missing(FALSE);
  constexpr DWORD kMaxIds = 64;
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST head;
    ULONG_PTR more[kMaxIds];
  } list;
  ZeroMemory(&list, sizeof list);
  if (!fn(job, JobObjectBasicProcessIdList, &list, sizeof list, nullptr)) return FALSE;
  const DWORD n = list.head.NumberOfProcessIdsInList;
  if (n > capacity || n > kMaxIds || n < list.head.NumberOfAssignedProcesses) return FALSE;
  for (DWORD i = 0; i < n; ++i) ids[i] = static_cast<DWORD>(list.head.ProcessIdList[i]);
  *count = n;
  return TRUE;
}
HANDLE WatchJobStarts(HANDLE job) {
  auto create = As<HANDLE(WINAPI*)(HANDLE, HANDLE, ULONG_PTR, DWORD)>(Kernel32Export("CreateIoCompletionPort"));
  auto set = As<BOOL(WINAPI*)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD)>(Kernel32Export("SetInformationJobObject"));
  if (create == nullptr || set == nullptr) return Missing<HANDLE>(nullptr);
  HANDLE port = create(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (port == nullptr) return nullptr;
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT link;
  link.CompletionKey = job;
  link.CompletionPort = port;
  if (set(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link)) return port;
  ::CloseHandle(port);
  return nullptr;
}
BOOL NextJobStart(HANDLE port, DWORD* processId, DWORD milliseconds) {
  auto get = As<BOOL(WINAPI*)(HANDLE, LPDWORD, PULONG_PTR, LPOVERLAPPED*, DWORD)>(
      Kernel32Export("GetQueuedCompletionStatus"));
  if (get == nullptr) return Missing(FALSE);
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED data = nullptr;
  // A job's message: its kind in the byte count, the process id in place of the OVERLAPPED.
  for (; get(port, &message, &key, &data, milliseconds); milliseconds = 0) {
    if (message != JOB_OBJECT_MSG_NEW_PROCESS) continue;
    *processId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
    return TRUE;
  }
  return FALSE;
}
BOOL EnableDebugPrivilege() { return EnablePrivilege("SeDebugPrivilege"); }
DWORD GetTickCount() { return ::GetTickCount(); }

HRESULT CoInitializeEx(DWORD flags) { return ::CoInitializeEx(nullptr, flags); }
void CoUninitialize() { ::CoUninitialize(); }

HWND GetShellWindow() {
  // Windows 2000 and later; looked up so that nothing older is kept from loading.
  auto fn = As<HWND(WINAPI*)()>(Export("user32.dll", "GetShellWindow"));
  return fn != nullptr ? fn() : nullptr;
}
BOOL AllowMessageThrough(HWND hwnd, UINT msg) {
  auto fn = As<BOOL(WINAPI*)(HWND, UINT, DWORD, void*)>(Export("user32.dll", "ChangeWindowMessageFilterEx"));
  return fn != nullptr ? fn(hwnd, msg, 1 /* MSGFLT_ALLOW */, nullptr) : Missing(FALSE);
}
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  DWORD pid = 0;
  const DWORD thread = ::GetWindowThreadProcessId(hwnd, &pid);
  if (processId != nullptr) *processId = pid;
  return thread;
}

}  // namespace pf
