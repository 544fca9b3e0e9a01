// The processes of the user, in the program's own session: under the
// program's account and, when the program was elevated with another account's
// password, under that of the desktop shell of its session, where the person
// at the keyboard works.
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

// Account name that owns the process; nonzero on success, else "" and 0.
// Ownership itself is decided by SID (IsUsersProcess), not by this name.
int GetProcessOwnerName(DWORD processId, char* name, DWORD capacity);

// A SID as a token holds it (SECURITY_MAX_SID_SIZE); revision 0 when none.
struct AccountSid {
  BYTE bytes[68];
};

// Who counts as the user: processes of the program's own session (every
// process where the system knows no sessions) that run under the program's
// own account or under that of the desktop shell of that session, the shell
// counting only when it is in the session and not a service account
// (LocalSystem, LocalService, NetworkService). Accounts compared by SID.
struct UserIdentity {
  AccountSid own;
  AccountSid shell;  // revision 0: no shell that counts
  DWORD session;
  bool oneSession;  // the system lacks ProcessIdToSessionId
};
// 0 when the program's own account or session cannot be read: then no
// process can be shown to be the user's.
int ReadUserIdentity(UserIdentity* user);
// The process behind the handle (open with PROCESS_QUERY_INFORMATION; the id
// is its own while the handle is open) is in the user's session and account;
// false when either cannot be read.
bool IsUsersProcess(const UserIdentity& user, HANDLE process, DWORD processId);

// count: capacity in, entries filled out. Keeps the user's processes
// (IsUsersProcess), in snapshot order; none when the identity cannot be read.
// Every szExeFile kept ends in a zero within its 260 bytes.
void SnapshotUserProcesses(DWORD* count, PROCESSENTRY32* entries);

// 1 when a process of that file name (case ignored, code-page aware) is the
// user's (IsUsersProcess), checked again at the time of the test.
int IsBrowserRunning(const char* exeName);

// The part of an exe path after its last backslash, never taking the trail
// byte of a double-byte character for one.
const char* MbFileNamePart(const char* exePath);

// Opening another account's processes takes the debug privilege, which an
// administrator's token holds but has not enabled; enabled for the rest of
// the process, once per call (harmless to repeat). Without it those
// processes stay unseen.
void EnableOpeningOtherAccounts();
