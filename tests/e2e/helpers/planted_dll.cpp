// A DLL planted next to a program under the name of one that is loaded on
// demand. Each load and unload appends a line to "<its own path>.loaded":
// "attach <host exe>", "release" (freed while the process runs) or "exit".
#include <windows.h>

static void Note(HINSTANCE self, const char* event, int withHost) {
  char path[MAX_PATH + 8], host[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  lstrcatA(path, ".loaded");
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(f, event, lstrlenA(event), &written, nullptr);
  if (withHost) {
    DWORD h = GetModuleFileNameA(nullptr, host, MAX_PATH);
    WriteFile(f, " ", 1, &written, nullptr);
    WriteFile(f, host, h < MAX_PATH ? h : 0, &written, nullptr);
  }
  WriteFile(f, "\r\n", 2, &written, nullptr);
  CloseHandle(f);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) Note(self, "attach", 1);
  if (reason == DLL_PROCESS_DETACH) Note(self, reserved == nullptr ? "release" : "exit", 0);
  return TRUE;
}
