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
// The full path of the process's image (Vista and later). Where the system
// lacks the call: FALSE with ERROR_CALL_NOT_IMPLEMENTED.
BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, char* name, DWORD* size);
// Job objects (Windows 2000 and later; else null or FALSE with
// ERROR_CALL_NOT_IMPLEMENTED). A job made here has no limits: closing it
// ends none of its processes, and processes started by its members join it.
HANDLE CreateJobObjectA(void* attributes, const char* name);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
// How many processes of the job still run (JobObjectBasicAccountingInformation).
BOOL QueryJobActiveProcesses(HANDLE job, DWORD* active);
BOOL CloseHandle(HANDLE handle);
BOOL GetUserNameA(char* buffer, DWORD* size);
DWORD GetLastError();
}  // namespace pf
