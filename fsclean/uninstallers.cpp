#include "fsclean/uninstallers.h"

#include <cstring>

#include "fsclean/run_folder.h"
#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "process/browser_guard.h"

namespace {
// A directory as the system reports it, or "" when the call fails or the
// answer does not fit.
void ReadDirectory(UINT (*get)(char*, UINT), char* buffer) {
  const UINT n = get(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) buffer[0] = '\0';
}

// Between two looks at an uninstaller's job.
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
};
void FindPageBrowsers(PageBrowsers* browsers) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  // The user's choice is only read with ASSOCF_IS_PROTOCOL, which Windows 8 brought.
  const bool eightOrLater =
      pf::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2));
  const DWORD flags = pf::kAssocNoTruncate | (eightOrLater ? pf::kAssocIsProtocol : 0);
  static const char* const protocols[2] = {"http", "https"};
  for (int i = 0; i < 2; ++i) {
    DWORD size = MAX_PATH;
    if (pf::AssocQueryExecutable(flags, protocols[i], browsers->exe[i], &size) != S_OK) browsers->exe[i][0] = '\0';
    browsers->exe[i][MAX_PATH - 1] = '\0';
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

// True while a process of the job runs that is worth waiting for: a browser,
// the program registered for web pages or the shell that the uninstaller
// opened (a feedback page, a folder) is left running. Where the job's members cannot be listed or named, any one
// counts, as the count of active processes says.
bool JobStillWorking(HANDLE job, const PageBrowsers& browsers) {
  DWORD active = 0;
  if (!pf::QueryJobActiveProcesses(job, &active)) return false;
  if (active == 0) return false;
  DWORD ids[kJobIdCapacity];
  DWORD count = 0;
  if (!pf::QueryJobProcessIds(job, ids, kJobIdCapacity, &count)) return true;
  pf::ScopedHandle snapshot(pf::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return true;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = pf::Process32First(snapshot.Get(), &entry); more; more = pf::Process32Next(snapshot.Get(), &entry)) {
    bool member = false;
    for (DWORD i = 0; i < count && !member; ++i) member = ids[i] == entry.th32ProcessID;
    if (!member) continue;
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (IsBrowserOrShellExe(entry.szExeFile) || SameExeFileName(entry.szExeFile, browsers.exe[0]) ||
        SameExeFileName(entry.szExeFile, browsers.exe[1]))
      continue;
    return true;
  }
  return false;
}

// Case-insensitive order of two variable names (ASCII), as the system keeps
// its environment block sorted; a name ends at its '='.
int CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int x = *a == '=' ? 0 : (*a >= 'a' && *a <= 'z' ? *a - 32 : *a);
    const int y = *b == '=' ? 0 : (*b >= 'a' && *b <= 'z' ? *b - 32 : *b);
    if (x != y || x == 0) return x - y;
  }
}

// The program's environment with TEMP and TMP naming tempDir, in its sorted
// place; false when the environment cannot be read or the block be had.
bool EnvironmentWithTemp(const char* tempDir, pf::ScopedBuffer* block) {
  char* own = pf::GetEnvironmentStringsA();
  if (own == nullptr) return false;
  size_t ownSize = 0;
  while (own[ownSize] != '\0') ownSize += std::strlen(own + ownSize) + 1;
  const size_t tempLen = std::strlen(tempDir);
  char* out = block->Allocate(ownSize + 2 * (tempLen + 6) + 1);
  if (out != nullptr) {
    const char* const names[2] = {"TEMP=", "TMP="};
    int next = 0;  // names written so far
    for (const char* e = own;; e += std::strlen(e) + 1) {
      // An entry of "=C:"-like name sorts by its first '=' kept.
      const char* name = e[0] == '=' ? e + 1 : e;
      while (next < 2 && (*e == '\0' || (e[0] != '=' && CompareNames(name, names[next]) >= 0))) {
        const size_t n = std::strlen(names[next]);
        std::memcpy(out, names[next], n);
        std::memcpy(out + n, tempDir, tempLen + 1);
        out += n + tempLen + 1;
        ++next;
      }
      if (*e == '\0') break;
      if (CompareNames(name, "TEMP=") == 0 || CompareNames(name, "TMP=") == 0) continue;  // replaced
      const size_t n = std::strlen(e) + 1;
      std::memcpy(out, e, n);
      out += n;
    }
    *out = '\0';
  }
  pf::FreeEnvironmentStringsA(own);
  return out != nullptr;
}

// Started suspended and let run only once it is in the job, so that nothing
// it starts, however soon, is outside the wait; in the system directory, and
// with environment as its own (null: the program's). False when the system
// will not start it this way (an uninstaller that asks for elevation while
// the program runs without it: ERROR_ELEVATION_REQUIRED).
bool StartSuspendedInJob(const char* path, const char* directory, const char* environment, HANDLE job,
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
  if (!pf::CreateProcessA(path, commandLine, CREATE_SUSPENDED, environment, directory, &startup, &info)) return false;
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

// As before the suspended start: the shell starts it (and asks for elevation
// where it needs it); it joins the job only once it already runs.
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
  pf::ShellExecuteExA(&info);
  *process->Receive() = info.hProcess;
  if (!process->IsValid()) return false;
  *inJob = pf::IsValidHandle(job) && pf::AssignProcessToJobObject(job, info.hProcess);
  return true;
}

// The uninstaller without limit, in slices that tell how long, then the rest
// of its job as long as it works and kTreeWaitMs at most.
void WaitForTree(HANDLE process, HANDLE job, bool inJob, const PageBrowsers& browsers, Waiting* waiting) {
  while (pf::WaitForSingleObject(process, kWaitSliceMs) == WAIT_TIMEOUT) waiting->Tell(true);
  if (!inJob) return;
  const DWORD since = pf::GetTickCount();
  while (JobStillWorking(job, browsers) && pf::GetTickCount() - since < kTreeWaitMs) {
    pf::Sleep(kJobPollMs);
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
void RunAndWait(const char* path, const char* systemDir, const PageBrowsers& browsers, Waiting* waiting) {
  pf::ScopedHandle job(pf::CreateJobObjectA(nullptr, nullptr));
  if (job.IsValid()) pf::AllowJobBreakaway(job.Get());
  pf::ScopedHandle process;
  bool inJob = false;
  // It runs elevated and writes to its TEMP (an NSIS uninstaller copies
  // itself there and runs the copy): a folder of the run's, not the user's,
  // which the user's programs could change under it. Where the system keeps
  // no security, TEMP stays as it is.
  char temp[MAX_PATH];
  pf::ScopedBuffer environment;
  const RunFolder kind = RunTempFolderFor(systemDir, temp, sizeof temp);
  const bool safe = kind == RunFolder::kNoSecurity || (kind == RunFolder::kReady && EnvironmentWithTemp(temp, &environment));
  if (safe && StartSuspendedInJob(path, systemDir, environment.Get(), job.Get(), &process, &inJob)) {
    WaitForTree(process.Get(), job.Get(), inJob, browsers, waiting);
    return;
  }
  // The shell's start, where the program cannot make such a folder (it runs
  // without administrator rights) or the uninstaller asks for elevation.
  const ComForShell com;
  if (StartThroughShell(path, systemDir, job.Get(), &process, &inJob))
    WaitForTree(process.Get(), job.Get(), inJob, browsers, waiting);
}
}  // namespace

namespace {
const char* const kUninstallerNames[3] = {"\\unins000.exe", "\\Uninstall.exe", "\\uninst.exe"};
}  // namespace

const char* LeftoverUninstallerName(unsigned which) { return kUninstallerNames[which < 3 ? which : 2] + 1; }

unsigned RunLeftoverUninstallers(const UninstallerWatch* watch) {
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

  bool uninstRan = false;
  PageBrowsers browsers;
  bool browsersFound = false;
  for (int i = 0; i < 3; ++i) {
    if (paths[i][0] == '\0' || !pf::PathFileExistsA(paths[i])) continue;
    if (!browsersFound) FindPageBrowsers(&browsers);
    browsersFound = true;
    Waiting waiting = {watch, static_cast<unsigned>(i), pf::GetTickCount(), 0};
    waiting.Tell(true);
    RunAndWait(paths[i], systemDir[0] != '\0' ? systemDir : windowsDir, browsers, &waiting);
    if (i == 2) uninstRan = true;
  }
  if (!uninstRan) return 0;

  char again[MAX_PATH] = {};
  ReadDirectory(pf::GetSystemDirectoryA, again);
  char capicom[MAX_PATH];
  if (again[0] != '\0' && ComposePath(capicom, MAX_PATH, again, "\\capicom.dll"))
    pf::DeleteFileA(capicom);
  return 0;
}
