// The yardstick for a removal run's time: only its obliged waits and its
// uninstaller launches, in order, and nothing else.
//   bare_launcher <log> STEP...    STEP: sleep:MS | run:PATH
// Writes "launcher_ms=..." to the log: from the first step to the end of the last.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  for (int i = 2; i < argc; ++i) {
    if (!std::strncmp(argv[i], "sleep:", 6)) {
      Sleep(std::strtoul(argv[i] + 6, nullptr, 10));
    } else if (!std::strncmp(argv[i], "run:", 4)) {
      SHELLEXECUTEINFOA info = {};
      info.cbSize = sizeof info;
      info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
      info.lpFile = argv[i] + 4;
      info.lpParameters = " /S";
      info.nShow = SW_SHOW;
      if (ShellExecuteExA(&info) && info.hProcess) {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
      }
    }
  }
  QueryPerformanceCounter(&t1);
  FILE* log = std::fopen(argv[1], "w");
  if (!log) return 2;
  std::fprintf(log, "launcher_ms=%.1f\n", 1000.0 * (t1.QuadPart - t0.QuadPart) / f.QuadPart);
  std::fclose(log);
  return 0;
}
