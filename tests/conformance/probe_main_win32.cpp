// The probe table through the real platform, for a run under Wine:
//   conformance_probes <out> [restart]
// writes one line per probe for the process's ANSI code page; with
// "restart", the lines of the probes that look at what a restart did.
#include <mbctype.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/probes.h"
#include "tests/e2e/helpers/deny_key.h"

namespace {

void MakeDirs(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

std::string OwnPath() {
  char p[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, p, MAX_PATH);
  return p;
}

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

HWND MakeWindow(const char* title) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "BrannochConformance";
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

struct HungWindow {
  std::string title;
  HANDLE ready;
};

DWORD WINAPI HungThread(void* arg) {
  HungWindow* w = static_cast<HungWindow*>(arg);
  MakeWindow(w->title.c_str());
  SetEvent(w->ready);
  Sleep(INFINITE);  // never reads its messages
  return 0;
}

class WinFixture : public conformance::Fixture {
 public:
  void Dir(const std::string& path) override { MakeDirs(path); }
  void File(const std::string& path, bool readOnly) override {
    MakeDirs(path.substr(0, path.rfind('\\')));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, "x", 1, &n, nullptr);
    CloseHandle(h);
    if (readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  void Hold(const std::string& path, bool shareDelete) override {
    const DWORD share = shareDelete ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
    holds_.push_back(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  void MapImage(const std::string& path) override {
    CopyFileA(OwnPath().c_str(), path.c_str(), FALSE);
    modules_.push_back(LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  }
  void Link(const std::string&, const std::string&) override {}  // run.py made it
  void DenyDelete(const std::string& path) override {
    Secure(path.substr(0, path.rfind('\\')), "D:P(D;;0x40;;;WD)(A;OICI;FA;;;WD)");  // FILE_DELETE_CHILD
    Secure(path, "D:P(D;;0x10000;;;WD)(A;;FA;;;WD)");                          // DELETE
  }
  static void Secure(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr)) return;
    SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
  }
  void Release() override {
    for (HANDLE h : holds_) CloseHandle(h);
    for (HMODULE m : modules_) FreeLibrary(m);
    for (HANDLE p : children_) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
    holds_.clear();
    modules_.clear();
    children_.clear();
  }
  void Key(const std::string& path) override {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (k) RegCloseKey(k);
  }
  void Value(const std::string& key, const std::string& name) override {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (k) {
      RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
      RegCloseKey(k);
    }
  }
  void DenyAllAccess(const std::string& key) override {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, READ_CONTROL | WRITE_DAC, &h) != ERROR_SUCCESS)
      return;
    DenyAllButRead(h);
    RegCloseKey(h);
  }
  void Window(const std::string& title, bool hung) override {
    if (!hung) {
      MakeWindow(title.c_str());
      return;
    }
    HungWindow* w = new HungWindow{title, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    CloseHandle(CreateThread(nullptr, 0, HungThread, w, 0, nullptr));
    WaitForSingleObject(w->ready, 5000);
  }
  DWORD StartProcess(const std::string& path) override {
    CopyFileA(OwnPath().c_str(), path.c_str(), FALSE);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + path + "\" child";
    if (!CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return 0;
    CloseHandle(pi.hThread);
    children_.push_back(pi.hProcess);
    WaitForInputIdle(pi.hProcess, 2000);
    Sleep(300);
    return pi.dwProcessId;
  }

 private:
  std::vector<HANDLE> holds_;
  std::vector<HMODULE> modules_;
  std::vector<HANDLE> children_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "child") == 0) {
    Sleep(60000);
    return 0;
  }
  if (argc < 2) return 2;
  _setmbcp(_MB_CP_ANSI);
  const bool afterRestart = argc >= 3 && std::strcmp(argv[2], "restart") == 0;
  WinFixture fixture;
  fixture.Dir(conformance::kRoot);
  fixture.Dir(conformance::kOtherDrive);
  SetCurrentDirectoryA(conformance::kRoot);
  const std::vector<std::string> lines = conformance::Run(fixture, GetACP(), afterRestart);
  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 2;
  for (const std::string& l : lines) std::fprintf(out, "%s\n", l.c_str());
  std::fclose(out);
  return 0;
}
