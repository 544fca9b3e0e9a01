// The real platform: thin forwarding to the ANSI Windows calls.
#include <mbstring.h>
#include <shlwapi.h>

#include "platform/files.h"
#include "platform/mbstring.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/window.h"

#ifndef _WIN64
// The 32-bit records the old tool's contemporaries pass around.
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA");
#endif
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");

namespace pf {

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
  return ::RegOpenKeyExA(root, subKey, options, access, result);
}
LONG RegDeleteValueA(HKEY key, const char* valueName) { return ::RegDeleteValueA(key, valueName); }
LONG RegDeleteKeyA(HKEY root, const char* subKey) { return ::RegDeleteKeyA(root, subKey); }
LONG SHDeleteKeyA(HKEY root, const char* subKey) { return ::SHDeleteKeyA(root, subKey); }
LONG RegCloseKey(HKEY key) { return ::RegCloseKey(key); }

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
BOOL TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(process, exitCode); }
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}
DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }
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
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  return ::MessageBoxA(owner, text, caption, type);
}

BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) {
  return ::SHGetSpecialFolderPathA(owner, path, csidl, create);
}
void SHChangeNotify(LONG eventId, UINT flags, const void* item1, const void* item2) {
  ::SHChangeNotify(eventId, flags, item1, item2);
}
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info) { return ::ShellExecuteExA(info); }
BOOL PathFileExistsA(const char* path) { return ::PathFileExistsA(path); }

LANGID GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }
BOOL GetVersionExA(OSVERSIONINFOA* info) { return ::GetVersionExA(info); }
UINT GetSystemDirectoryA(char* buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }
UINT GetWindowsDirectoryA(char* buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  return ::GetModuleFileNameA(module, buffer, size);
}
void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
BOOL IsDBCSLeadByte(BYTE c) { return ::IsDBCSLeadByte(c); }

const char* MbsRChr(const char* s, unsigned ch) {
  return reinterpret_cast<const char*>(_mbsrchr(reinterpret_cast<const unsigned char*>(s), ch));
}
int MbsICmp(const char* a, const char* b) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(a),
                  reinterpret_cast<const unsigned char*>(b));
}

}  // namespace pf
