// Processes, tokens and accounts.
#pragma once
#include "platform/loader.h"
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
BOOL EqualSid(PSID a, PSID b);
// The Terminal Services session of a process (needs PROCESS_QUERY_INFORMATION
// on it). Where the system lacks the call: FALSE with ERROR_CALL_NOT_IMPLEMENTED.
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD GetCurrentProcessId();
// The full path of the process's image (Vista and later). Where the system
// lacks the call: FALSE with ERROR_CALL_NOT_IMPLEMENTED.
BOOL QueryFullProcessImageNameA(HANDLE process, DWORD flags, char* name, DWORD* size);
// The process's image as a device path, "\Device\HarddiskVolume1\...", its
// zero within size (GetProcessImageFileNameA: psapi, Windows XP and later,
// loaded from the system directory; needs PROCESS_QUERY_INFORMATION). Nonzero
// on success, but not its length (Windows may give more); 0 with the last
// error, ERROR_CALL_NOT_IMPLEMENTED where the system lacks the call.
DWORD GetProcessImageFileNameA(HANDLE process, char* name, DWORD size);
// Job objects (Windows 2000 and later; else null or FALSE with
// ERROR_CALL_NOT_IMPLEMENTED). A job made here has no limits: closing it
// ends none of its processes, and processes started by its members join it.
HANDLE CreateJobObjectA(void* attributes, const char* name);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
// How many processes of the job still run (JobObjectBasicAccountingInformation).
BOOL QueryJobActiveProcesses(HANDLE job, DWORD* active);
// Starting a program without a handle inherited or a window of its own
// chosen; CREATE_SUSPENDED in creationFlags holds its first thread until
// ResumeThread, so that it joins a job before it can start anything.
// environment: a block of "NAME=value" strings ending in an empty one, in
// UTF-16 with kCreateUnicodeEnvironment in creationFlags, or null for the
// program's own; directory: the program's current folder, or null for the
// program's own.
constexpr DWORD kCreateUnicodeEnvironment = 0x400;
BOOL CreateProcessA(const char* application, char* commandLine, DWORD creationFlags, const void* environment,
                    const char* directory, STARTUPINFOA* startup, PROCESS_INFORMATION* info);
// The environment of a program the system itself starts: the system's
// variables alone, neither the user's nor this program's (CreateEnvironmentBlock
// with no token and nothing inherited; userenv, Windows 2000 and later, loaded
// from the system directory). SystemRoot alone is taken from this program's
// own environment. A UTF-16 block, released with DestroyEnvironmentBlock;
// FALSE where it cannot be made or the system lacks the call.
BOOL CreateEnvironmentBlock(void** block);
void DestroyEnvironmentBlock(void* block);
// A variable of this program's own environment.
BOOL SetEnvironmentVariableA(const char* name, const char* value);
// Whether the program runs with administrator rights, as its token says: on
// Vista and later elevated (TokenElevation), before, holding Administrators
// (S-1-5-32-544) enabled (CheckTokenMembership, Windows 2000 and later). 1 or
// 0; kMissing where the token cannot tell (Windows 9x, a failed call).
int RunsElevated();
DWORD ResumeThread(HANDLE thread);
// Lets the job's processes start children outside it (CREATE_BREAKAWAY_FROM_JOB);
// FALSE with ERROR_CALL_NOT_IMPLEMENTED where there are no jobs.
BOOL AllowJobBreakaway(HANDLE job);
// The ids of the job's processes (JobObjectBasicProcessIdList); FALSE when
// they do not fit capacity.
BOOL QueryJobProcessIds(HANDLE job, DWORD* ids, DWORD capacity, DWORD* count);
// A completion port told of each process that joins the job from now on
// (JobObjectAssociateCompletionPortInformation; Windows 2000 and later), its
// handle closed by the caller; null where the system cannot.
HANDLE WatchJobStarts(HANDLE job);
// The next process the port tells of as joined (JOB_OBJECT_MSG_NEW_PROCESS),
// in the order they joined, the port's other messages passed over. Waits up
// to milliseconds for the port's first message (a member's end is one too),
// not again once one came. FALSE when none told of a process joining.
BOOL NextJobStart(HANDLE port, DWORD* processId, DWORD milliseconds);
// Enables the debug privilege administrators hold, which opens the processes
// of other accounts; FALSE when the token lacks it.
BOOL EnableDebugPrivilege();
DWORD GetTickCount();
BOOL CloseHandle(HANDLE handle);
BOOL GetUserNameA(char* buffer, DWORD* size);
DWORD GetLastError();
}  // namespace pf
