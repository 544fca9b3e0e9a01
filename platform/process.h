// Processes, tokens and accounts.
#pragma once
#include "platform/wintypes.h"

namespace pf {
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, void* info, DWORD length,
                         DWORD* returnLength);
BOOL LookupAccountSidA(const char* systemName, PSID sid, char* name, DWORD* nameSize,
                       char* domain, DWORD* domainSize, int* use);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD GetCurrentProcessId();
BOOL CloseHandle(HANDLE handle);
BOOL GetUserNameA(char* buffer, DWORD* size);
DWORD GetLastError();
}  // namespace pf
