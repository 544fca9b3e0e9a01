// Stands in for an old edition's running program: optionally shows a hidden
// top-level window with a given title (hex bytes, in the system code page)
// that appends each WM_COMMAND id it receives to a log, and optionally holds
// a file open without sharing (--hold: it can be neither deleted nor renamed)
// or mapped as an image (--map: it cannot be deleted but can be renamed, as a
// loaded DLL). Runs until terminated.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string g_log;
static std::string g_onCommandRun;  // started once the first command arrives

static std::string FromHex(const char* hex) {
  std::string out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    char b[3] = {hex[i], hex[i + 1], 0};
    out.push_back(static_cast<char>(std::strtoul(b, nullptr, 16)));
  }
  return out;
}

static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && !g_log.empty()) {
    FILE* f = std::fopen(g_log.c_str(), "a");
    if (f) {
      std::fprintf(f, "%u\n", static_cast<unsigned>(LOWORD(wParam)));
      std::fclose(f);
    }
    if (!g_onCommandRun.empty()) {
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      std::string cmd = "\"" + g_onCommandRun + "\"";
      if (CreateProcessA(g_onCommandRun.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
      }
      g_onCommandRun.clear();
    }
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::string titleHex, holdPath, mapPath, readyPath;
  for (int i = 1; i + 1 < __argc; i += 2) {
    if (!std::strcmp(__argv[i], "--title-hex")) titleHex = __argv[i + 1];
    if (!std::strcmp(__argv[i], "--log")) g_log = __argv[i + 1];
    if (!std::strcmp(__argv[i], "--hold")) holdPath = __argv[i + 1];
    if (!std::strcmp(__argv[i], "--on-command-run")) g_onCommandRun = __argv[i + 1];
    if (!std::strcmp(__argv[i], "--map")) mapPath = __argv[i + 1];
    if (!std::strcmp(__argv[i], "--ready")) readyPath = __argv[i + 1];
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!holdPath.empty())
    held = CreateFileA(holdPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!mapPath.empty()) LoadLibraryExA(mapPath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!titleHex.empty()) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = "BrannochE2EToolWindow";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, FromHex(titleHex.c_str()).c_str(), WS_OVERLAPPEDWINDOW, 0, 0,
                    100, 100, nullptr, nullptr, instance, nullptr);
  }
  if (!readyPath.empty()) {
    FILE* f = std::fopen(readyPath.c_str(), "w");
    if (f) std::fclose(f);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}
