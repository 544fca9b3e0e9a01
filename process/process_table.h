// The processes that run under the user's account: the program's own and,
// when the program was elevated with another account's password, that of
// the desktop shell of its session, where the person at the keyboard works.
#pragma once
#include "platform/wintypes.h"

constexpr DWORD kBrowserTableCapacity = 800;

extern PROCESSENTRY32 browserProcessTable[kBrowserTableCapacity];
extern DWORD browserProcessCount;
// 1 while browserProcessTable holds the current sweep's snapshot; the browser
// guard clears it at the start of each sweep.
extern int browserTableFilled;

// Fills the caller's 260-byte buffer with the account name; nonzero on success.
// On failure the buffer holds "".
int GetCurrentUserName(char* name);

// Account that owns the process; nonzero on success, else "" and 0.
int GetProcessOwnerName(DWORD processId, char* name, DWORD capacity);

// The same for a process already open with PROCESS_QUERY_INFORMATION: the
// answer is about that very process, whatever its id has become since.
int GetOwnerNameOfProcess(HANDLE process, char* name, DWORD capacity);

// The account of the desktop shell of the program's session (the owner of
// the process behind the shell window), in the caller's 260-byte buffer;
// nonzero on success, else "" and 0 (no shell, or its owner unreadable).
int GetShellUserName(char* name);

// count: capacity in, entries filled out. Keeps the processes whose owner
// equals the current user name or the shell's exactly, in snapshot order. When the user name
// cannot be obtained no process is kept. Every szExeFile kept ends in a zero
// within its 260 bytes.
void SnapshotUserProcesses(DWORD* count, PROCESSENTRY32* entries);

// 1 when a process of that file name (case ignored, code-page aware) runs
// under the program's own account or the shell's.
int IsBrowserRunning(const char* exeName);

// The part of an exe path after its last backslash, never taking the trail
// byte of a double-byte character for one.
const char* MbFileNamePart(const char* exePath);

// Opening another account's processes takes the debug privilege, which an
// administrator's token holds but has not enabled; enabled for the rest of
// the process, once per call (harmless to repeat). Without it those
// processes stay unseen, as before.
void EnableOpeningOtherAccounts();
