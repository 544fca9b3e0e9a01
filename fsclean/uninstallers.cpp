#include "fsclean/uninstallers.h"

#include <cstring>

#include "fsclean/paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace {
// A directory as the system reports it, or "" when the call fails or the
// answer does not fit.
void ReadDirectory(UINT (*get)(char*, UINT), char* buffer) {
  const UINT n = get(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) buffer[0] = '\0';
}

// Between two looks at an uninstaller's job.
constexpr DWORD kJobPollMs = 20;

// Waits for the uninstaller and for everything it started: an NSIS
// uninstaller copies itself to the temporary folder, starts the copy and ends
// at once, and the copy does the work. The job has no limits, so the
// uninstaller goes on if this program is ended. Where there is no job (older
// systems, a process that cannot join one), the wait is for the process alone.
void RunAndWait(const char* path) {
  pf::ScopedHandle job(pf::CreateJobObjectA(nullptr, nullptr));
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;  // 0x440
  info.lpFile = path;
  info.lpParameters = " /S";
  info.nShow = SW_SHOW;
  pf::ShellExecuteExA(&info);
  pf::ScopedHandle process(info.hProcess);
  if (!process.IsValid()) return;
  const bool inJob = job.IsValid() && pf::AssignProcessToJobObject(job.Get(), process.Get());
  pf::WaitForSingleObject(process.Get(), INFINITE);
  if (!inJob) return;
  DWORD active = 0;
  while (pf::QueryJobActiveProcesses(job.Get(), &active) && active != 0) pf::Sleep(kJobPollMs);
}
}  // namespace

void RunLeftoverUninstallers() {
  char windowsDir[MAX_PATH] = {};
  char systemDir[MAX_PATH] = {};
  ReadDirectory(pf::GetWindowsDirectoryA, windowsDir);
  ReadDirectory(pf::GetSystemDirectoryA, systemDir);

  char paths[3][MAX_PATH] = {};
  if (windowsDir[0] != '\0') ComposePath(paths[0], MAX_PATH, windowsDir, "\\unins000.exe");
  if (systemDir[0] != '\0') {
    ComposePath(paths[1], MAX_PATH, systemDir, "\\Uninstall.exe");
    ComposePath(paths[2], MAX_PATH, systemDir, "\\uninst.exe");
  }

  bool uninstRan = false;
  for (int i = 0; i < 3; ++i) {
    if (paths[i][0] == '\0' || !pf::PathFileExistsA(paths[i])) continue;
    RunAndWait(paths[i]);
    if (i == 2) uninstRan = true;
  }
  if (!uninstRan) return;

  char again[MAX_PATH] = {};
  ReadDirectory(pf::GetSystemDirectoryA, again);
  char capicom[MAX_PATH];
  if (again[0] != '\0' && ComposePath(capicom, MAX_PATH, again, "\\capicom.dll"))
    pf::DeleteFileA(capicom);
}
