// Stands in for a leftover uninstaller: appends its own path and command line
// to C:\e2e\uninstallers.log, deletes C:\e2e\<name>.marker, works for 300 ms
// (or the milliseconds written in C:\e2e\<name>.delay), starts the program named in
// C:\e2e\<name>.opens and leaves it running (a feedback page in a browser), and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string name = self;
  name = name.substr(name.rfind('\\') + 1);
  FILE* f = std::fopen("C:\\e2e\\uninstallers.log", "a");
  if (f) {
    std::fprintf(f, "%s|%s\n", self, GetCommandLineA());
    std::fclose(f);
  }
  DeleteFileA(("C:\\e2e\\" + name + ".marker").c_str());
  DWORD delay = 300;
  if (FILE* d = std::fopen(("C:\\e2e\\" + name + ".delay").c_str(), "r")) {
    unsigned long ms = 0;
    if (std::fscanf(d, "%lu", &ms) == 1) delay = ms;
    std::fclose(d);
  }
  Sleep(delay);
  char opens[MAX_PATH] = {};
  if (FILE* o = std::fopen(("C:\\e2e\\" + name + ".opens").c_str(), "r")) {
    if (std::fgets(opens, sizeof opens, o) != nullptr) WinExec(opens, SW_SHOWNORMAL);
    std::fclose(o);
  }
  return 0;
}
