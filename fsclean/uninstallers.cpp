#include "fsclean/uninstallers.h"

#include <cstring>

#include "fsclean/run_folder.h"
#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "process/browser_guard.h"

namespace {
// A directory as the system reports it, or "" when the call fails or the
// answer does not fit.
void ReadDirectory(UINT (*get)(char*, UINT), char* buffer) {
  const UINT n = get(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) buffer[0] = '\0';
}

// The longest between two looks at an uninstaller's job; its port, where it
// has one, ends the wait as soon as a process joins.
constexpr DWORD kJobPollMs = 20;
// How long what the uninstaller started is waited for once the uninstaller
// itself has ended: an NSIS copy's work takes seconds; a process still
// running after this is taken as one the uninstaller leaves to the user.
constexpr DWORD kTreeWaitMs = 2 * 60 * 1000;
constexpr DWORD kJobIdCapacity = 64;
// The uninstaller itself is waited for in slices of this, so the wait can be told.
constexpr DWORD kWaitSliceMs = 1000;

// The programs registered for web pages ("http", "https"): a page an
// uninstaller opens goes to them. A browser with no plain exe (a packaged
// app) is not found. Empty where none is.
struct PageBrowsers {
  char exe[2][MAX_PATH];
  DWORD queryAccess;  // what opens a process to name it: the limited right from Vista on
};
void FindPageBrowsers(PageBrowsers* browsers) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  const bool nt = pf::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  // The user's choice is only read with ASSOCF_IS_PROTOCOL, which Windows 8 brought.
  const bool eightOrLater =
      nt && (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2));
  browsers->queryAccess =
      nt && version.dwMajorVersion >= 6 ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION;
  const DWORD flags = pf::kAssocNoTruncate | (eightOrLater ? pf::kAssocIsProtocol : 0);
  static const char* const protocols[2] = {"http", "https"};
  for (int i = 0; i < 2; ++i) {
    DWORD size = MAX_PATH;
    if (pf::AssocQueryExecutable(flags, protocols[i], browsers->exe[i], &size) != S_OK) browsers->exe[i][0] = '\0';
    browsers->exe[i][MAX_PATH - 1] = '\0';
    // An 8.3 answer: the system lists the running program by its long name.
    char longName[MAX_PATH];
    const DWORD n = browsers->exe[i][0] != '\0' ? pf::GetLongPathNameA(browsers->exe[i], longName, MAX_PATH) : 0;
    if (n > 0 && n < MAX_PATH) std::memcpy(browsers->exe[i], longName, n + 1);
  }
}

// Where and how long the uninstaller at hand has been waited for.
struct Waiting {
  const UninstallerWatch* watch;
  unsigned which;
  DWORD since;
  DWORD told;
  void Tell(bool force) {
    if (watch == nullptr) return;
    const DWORD now = pf::GetTickCount();
    if (!force && now - told < kWaitSliceMs) return;
    told = now;
    watch->tick(watch->context, which, (now - since) / 1000);
  }
};

// COM on this thread for ShellExecuteExA, released when the run is over.
class ComForShell {
 public:
  ComForShell() : ok_(pf::CoInitializeEx(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) >= 0) {}
  ~ComForShell() {
    if (ok_) pf::CoUninitialize();
  }
  ComForShell(const ComForShell&) = delete;
  ComForShell& operator=(const ComForShell&) = delete;

 private:
  bool ok_;
};

// A browser, the program registered for web pages or the shell: what a page
// or folder the uninstaller opened is left to.
bool IsPageExe(const char* exeFile, const PageBrowsers& browsers) {
  return IsBrowserOrShellExe(exeFile) || SameExeFileName(exeFile, browsers.exe[0]) ||
         SameExeFileName(exeFile, browsers.exe[1]);
}

// The job's members in the order they joined, as its port told of them, each
// judged once: left to the user (a page program, or started by a member left
// to the user that joined before it) or working. A page program is known by
// its handle as its joining is told, before it can end; any other member when
// a snapshot first names it, with its parent. A launcher that starts the real
// browser under another name and ends at once, and the browser's helpers, are
// so known by descent. A parent id is trusted only as a member that joined
// before the child; one never named (not opened, or ended before the run took
// in its joining) passes nothing on. Without a port (or past the table), each
// member is judged by its own name at each look.
constexpr DWORD kJoinedCapacity = 256;
enum : unsigned char { kUnnamed, kWorking, kLeft };
struct JobMembers {
  pf::ScopedHandle port;
  DWORD count;
  bool unnamed;  // some joined since the last snapshot
  DWORD pid[kJoinedCapacity];
  unsigned char state[kJoinedCapacity];
};

// The latest member with this id that joined before the one at `before`; -1 none.
int MemberBefore(const JobMembers& members, DWORD pid, DWORD before) {
  while (before-- > 0)
    if (members.pid[before] == pid) return static_cast<int>(before);
  return -1;
}

// Whether the process whose joining the port just told runs a page program,
// named by a handle, which holds whatever it runs, however soon it ends. False
// where it cannot be opened or named.
bool PageAtJoin(DWORD pid, const PageBrowsers& browsers) {
  pf::ScopedHandle process(pf::OpenProcess(browsers.queryAccess, FALSE, pid));
  char image[MAX_PATH];
  if (!process.IsValid() || pf::GetProcessImageFileNameA(process.Get(), image, MAX_PATH) == 0) return false;
  image[MAX_PATH - 1] = '\0';  // its answer is no length to trust
  return IsPageExe(image, browsers);
}

// Takes in who joined since the last look, waiting up to waitMs for the port
// (pausing as long without one), and judges those a snapshot names.
void NoteJoined(JobMembers* members, const PageBrowsers& browsers, DWORD waitMs) {
  DWORD pid = 0;
  if (!members->port.IsValid() && waitMs != 0) pf::Sleep(waitMs);
  for (; members->port.IsValid() && pf::NextJobStart(members->port.Get(), &pid, waitMs); waitMs = 0) {
    if (members->count == kJoinedCapacity) {
      members->port.Close();
      return;
    }
    members->pid[members->count] = pid;
    const bool page = PageAtJoin(pid, browsers);
    members->state[members->count++] = page ? kLeft : kUnnamed;
    if (!page) members->unnamed = true;
  }
  if (!members->unnamed) return;
  pf::ScopedHandle snapshot(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return;  // at the next look
  members->unnamed = false;
  DWORD parent[kJoinedCapacity];
  unsigned char named[kJoinedCapacity] = {};  // 1 named, 2 named a page program
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = pf::Process32First(snapshot.Get(), &entry); more; more = pf::Process32Next(snapshot.Get(), &entry)) {
    const int i = MemberBefore(*members, entry.th32ProcessID, members->count);
    if (i < 0 || members->state[i] != kUnnamed) continue;
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (entry.szExeFile[0] == '\0') {  // listed before it has a name (Wine, until it runs): at the next look
      members->unnamed = true;
      continue;
    }
    parent[i] = entry.th32ParentProcessID;
    named[i] = IsPageExe(entry.szExeFile, browsers) ? 2 : 1;
  }
  for (DWORD i = 0; i < members->count; ++i) {
    if (members->state[i] != kUnnamed || named[i] == 0) continue;
    const int p = MemberBefore(*members, parent[i], i);
    members->state[i] = named[i] == 2 || (p >= 0 && members->state[p] == kLeft) ? kLeft : kWorking;
  }
}

// True while a process of the job runs that is worth waiting for: one left to
// the user (a feedback page, a folder the uninstaller opened) is not. Where
// the job's members cannot be listed or named, any one counts, as the count
// of active processes says.
bool JobStillWorking(HANDLE job, const PageBrowsers& browsers, JobMembers* members) {
  NoteJoined(members, browsers, 0);
  DWORD active = 0;
  if (!pf::QueryJobActiveProcesses(job, &active)) return false;
  if (active == 0) return false;
  DWORD ids[kJobIdCapacity];
  DWORD count = 0;
  if (!pf::QueryJobProcessIds(job, ids, kJobIdCapacity, &count)) return true;
  bool byName = false;  // some member to judge by its name
  for (DWORD i = 0; i < count; ++i) {
    const int m = members->port.IsValid() ? MemberBefore(*members, ids[i], members->count) : -1;
    if (m < 0) byName = true;
    else if (members->state[m] == kUnnamed) members->unnamed = true;  // named at the next look
    if (m >= 0 && members->state[m] != kLeft) return true;
  }
  if (!byName) return false;
  pf::ScopedHandle snapshot(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return true;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = pf::Process32First(snapshot.Get(), &entry); more; more = pf::Process32Next(snapshot.Get(), &entry)) {
    bool member = false;
    for (DWORD i = 0; i < count && !member; ++i) member = ids[i] == entry.th32ProcessID;
    if (!member || (members->port.IsValid() && MemberBefore(*members, entry.th32ProcessID, members->count) >= 0))
      continue;
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (!IsPageExe(entry.szExeFile, browsers)) return true;
  }
  return false;
}

// Case-insensitive order of a variable name and an ASCII one, as the system
// keeps its environment block sorted; a name ends at its '='.
int CompareNames(const WCHAR* a, const char* b) {
  for (;; ++a, ++b) {
    const int x = *a == '=' ? 0 : (*a >= 'a' && *a <= 'z' ? *a - 32 : *a);
    const int y = *b == '=' ? 0 : (*b >= 'a' && *b <= 'z' ? *b - 32 : *b);
    if (x != y || x == 0) return x - y;
  }
}
size_t Units(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// The system's variables alone, never the user's nor the program's, with TEMP
// and TMP naming tempDir in their sorted place: a UTF-16 block; false when it
// cannot be made. The system takes SystemRoot from the program's own
// environment (and writes windir, ComSpec and Path as %SystemRoot%...), so
// that is set to the Windows folder first.
bool SystemEnvironmentWithTemp(const char* windowsDir, const char* tempDir, pf::ScopedBuffer* block) {
  WCHAR temp[MAX_PATH];
  const int tempUnits = pf::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, tempDir, -1, temp, MAX_PATH);  // and its zero
  void* system = nullptr;
  if (tempUnits <= 0 || windowsDir[0] == '\0' || !pf::SetEnvironmentVariableA("SystemRoot", windowsDir) ||
      !pf::CreateEnvironmentBlock(&system))
    return false;
  const WCHAR* const in = static_cast<const WCHAR*>(system);
  size_t size = 0;
  while (in[size] != 0) size += Units(in + size) + 1;
  WCHAR* out = reinterpret_cast<WCHAR*>(block->Allocate((size + 2 * (5 + tempUnits) + 1) * sizeof(WCHAR)));
  if (out != nullptr) {
    static const char* const names[2] = {"TEMP=", "TMP="};
    int next = 0;  // names written so far
    for (const WCHAR* e = in;; e += Units(e) + 1) {
      while (next < 2 && (*e == 0 || CompareNames(e, names[next]) >= 0)) {
        for (const char* c = names[next]; *c != '\0'; ++c) *out++ = static_cast<WCHAR>(*c);
        std::memcpy(out, temp, tempUnits * sizeof(WCHAR));
        out += tempUnits;
        ++next;
      }
      if (*e == 0) break;
      if (CompareNames(e, names[0]) == 0 || CompareNames(e, names[1]) == 0) continue;  // replaced
      const size_t n = Units(e) + 1;
      std::memcpy(out, e, n * sizeof(WCHAR));
      out += n;
    }
    *out = 0;
  }
  pf::DestroyEnvironmentBlock(system);
  return out != nullptr;
}

// Started suspended and let run only once it is in the job, so that nothing
// it starts, however soon, is outside the wait; in the system directory, and
// with environment as its own (null: the program's; flags say its form).
// False when the system will not start it this way.
bool StartSuspendedInJob(const char* path, const char* directory, const void* environment, DWORD flags, HANDLE job,
                         pf::ScopedHandle* process, bool* inJob) {
  char commandLine[MAX_PATH + 8];
  const size_t len = std::strlen(path);
  if (len + 6 > sizeof commandLine) return false;
  commandLine[0] = '"';
  std::memcpy(commandLine + 1, path, len);
  std::memcpy(commandLine + 1 + len, "\" /S", 5);  // with its zero
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  if (!pf::CreateProcessA(path, commandLine, CREATE_SUSPENDED | flags, environment, directory, &startup, &info))
    return false;
  *process->Receive() = info.hProcess;
  pf::ScopedHandle thread(info.hThread);
  *inJob = pf::IsValidHandle(job) && pf::AssignProcessToJobObject(job, info.hProcess);
  if (pf::ResumeThread(thread.Get()) != static_cast<DWORD>(-1)) return true;
  // Never left suspended: the wait would not end.
  pf::TerminateProcess(info.hProcess, 0);
  process->Close();
  *inJob = false;
  return false;
}

// The shell starts it (and asks for elevation where it needs it) with the
// program's environment; it joins the job only once it already runs, and is
// waited for only where the shell gives its process. False when not started.
bool StartThroughShell(const char* path, const char* directory, HANDLE job, pf::ScopedHandle* process,
                       bool* inJob) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;  // 0x440
  info.lpFile = path;
  info.lpParameters = " /S";
  info.lpDirectory = directory;
  info.nShow = SW_SHOW;
  if (!pf::ShellExecuteExA(&info)) return false;
  *process->Receive() = info.hProcess;
  *inJob = process->IsValid() && pf::IsValidHandle(job) && pf::AssignProcessToJobObject(job, info.hProcess);
  return true;
}

// The uninstaller without limit, in slices that tell how long, then the rest
// of its job as long as it works and kTreeWaitMs at most. Where the job has a
// port, the run waits on it, while the uninstaller runs too, and so takes in
// each member as it joins: a launcher the uninstaller starts ends soon.
void WaitForTree(HANDLE process, HANDLE job, bool inJob, const PageBrowsers& browsers, JobMembers* members,
                 Waiting* waiting) {
  const bool watched = inJob && members->port.IsValid();
  while (pf::WaitForSingleObject(process, watched ? 0 : kWaitSliceMs) == WAIT_TIMEOUT) {
    if (watched) NoteJoined(members, browsers, kJobPollMs);
    waiting->Tell(!watched);
  }
  if (!inJob) return;
  const DWORD since = pf::GetTickCount();
  while (JobStillWorking(job, browsers, members) && pf::GetTickCount() - since < kTreeWaitMs) {
    NoteJoined(members, browsers, kJobPollMs);
    waiting->Tell(false);
  }
}

// Waits for the uninstaller and for everything it started: an NSIS
// uninstaller copies itself to the temporary folder, starts the copy and ends
// at once, and the copy does the work. The uninstaller itself is waited for
// without limit; the rest of its tree for kTreeWaitMs at most, browsers and
// the shell not at all. The job ends nothing when closed (the uninstaller
// goes on if this program is ended) and lets a child that asks to leave it
// start outside it. Where there is no job (older systems, a process already in
// a job before Windows 8), the wait is for the process alone.
// It runs elevated and writes to its TEMP (an NSIS uninstaller copies itself
// there and runs the copy): it gets the system's variables alone, TEMP and
// TMP in a folder of the run's, or it is not started (false). Never the
// program's own environment, which holds the user's TEMP and variables that
// the user's programs can change; the shell's start passes that on too, so it
// is only for a program whose token says it lacks administrator rights (it
// cannot make the run's folder). Where the system keeps no security, the
// program's environment is all there is.
bool RunAndWait(const char* path, const char* windowsDir, const char* systemDir, const PageBrowsers& browsers,
                Waiting* waiting, RunRecord* record) {
  pf::ScopedHandle job(pf::CreateJobObjectA(nullptr, nullptr));
  JobMembers members;
  members.count = 0;
  members.unnamed = false;
  if (job.IsValid()) {
    pf::AllowJobBreakaway(job.Get());
    *members.port.Receive() = pf::WatchJobStarts(job.Get());  // before anything joins
  }
  pf::ScopedHandle process;
  bool inJob = false;
  char temp[MAX_PATH];
  const RunFolder kind = RunTempFolderFor(systemDir, temp, sizeof temp, record);
  const bool noSecurity = kind == RunFolder::kNoSecurity;
  if (noSecurity || pf::RunsElevated() != 0) {
    pf::ScopedBuffer environment;
    if ((noSecurity || (kind == RunFolder::kReady && SystemEnvironmentWithTemp(windowsDir, temp, &environment))) &&
        StartSuspendedInJob(path, systemDir, environment.Get(), noSecurity ? 0 : pf::kCreateUnicodeEnvironment,
                            job.Get(), &process, &inJob)) {
      WaitForTree(process.Get(), job.Get(), inJob, browsers, &members, waiting);
      return true;
    }
    if (!noSecurity) return false;
  }
  const ComForShell com;
  if (!StartThroughShell(path, systemDir, job.Get(), &process, &inJob)) return false;
  if (process.IsValid()) WaitForTree(process.Get(), job.Get(), inJob, browsers, &members, waiting);
  return true;
}
}  // namespace

namespace {
const char* const kUninstallerNames[3] = {"\\unins000.exe", "\\Uninstall.exe", "\\uninst.exe"};
}  // namespace

const char* LeftoverUninstallerName(unsigned which) { return kUninstallerNames[which < 3 ? which : 2] + 1; }

unsigned RunLeftoverUninstallers(const UninstallerWatch* watch, RunRecord* record) {
  char windowsDir[MAX_PATH] = {};
  char systemDir[MAX_PATH] = {};
  ReadDirectory(pf::GetWindowsDirectoryA, windowsDir);
  ReadDirectory(pf::GetSystemDirectoryA, systemDir);

  char paths[3][MAX_PATH] = {};
  if (windowsDir[0] != '\0') ComposePath(paths[0], MAX_PATH, windowsDir, kUninstallerNames[0]);
  if (systemDir[0] != '\0') {
    ComposePath(paths[1], MAX_PATH, systemDir, kUninstallerNames[1]);
    ComposePath(paths[2], MAX_PATH, systemDir, kUninstallerNames[2]);
  }

  unsigned notStarted = 0;
  bool uninstRan = false;
  PageBrowsers browsers;
  bool browsersFound = false;
  for (int i = 0; i < 3; ++i) {
    if (paths[i][0] == '\0' || !pf::PathFileExistsA(paths[i])) continue;
    if (!browsersFound) FindPageBrowsers(&browsers);
    browsersFound = true;
    Waiting waiting = {watch, static_cast<unsigned>(i), pf::GetTickCount(), 0};
    waiting.Tell(true);
    const bool started =
        RunAndWait(paths[i], windowsDir, systemDir[0] != '\0' ? systemDir : windowsDir, browsers, &waiting, record);
    if (!started) notStarted |= 1u << i;
    if (i == 2) uninstRan = started;
  }
  // uninst.exe may need capicom.dll: it goes only once uninst.exe has run.
  if (!uninstRan) return notStarted;

  char again[MAX_PATH] = {};
  ReadDirectory(pf::GetSystemDirectoryA, again);
  char capicom[MAX_PATH];
  if (again[0] != '\0' && ComposePath(capicom, MAX_PATH, again, "\\capicom.dll"))
    pf::DeleteFileA(capicom);
  return notStarted;
}
