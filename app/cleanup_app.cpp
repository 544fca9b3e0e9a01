#include "app/cleanup_app.h"

#include <commctrl.h>
#include <mbctype.h>

#include "app/cleanup_dlg.h"
#include "app/ui_logic.h"
#include "platform/handles.h"

CCleanupApp theApp;  // constant-initialised: the program has no static constructors

// The common controls are loaded here, after the DLL search was narrowed, not
// imported: at process start their own on-demand loads (uxtheme.dll) would
// still look in the program's folder first. The manifest's activation context
// redirects the name to version 6.
static void InitCommonControlsNow() {
  HMODULE comctl = LoadLibraryA("comctl32.dll");
  if (comctl == nullptr) return;
  typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(GetProcAddress(comctl, "InitCommonControlsEx")));
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  if (init != nullptr) init(&icc);
}

namespace {
BOOL CALLBACK FindMainDialog(HWND hwnd, LPARAM found) {
  char cls[8] = {};
  if (GetClassNameA(hwnd, cls, sizeof cls) == 0 || lstrcmpA(cls, "#32770") != 0) return TRUE;
  if (GetPropA(hwnd, kMainDialogMark) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// The other start's dialog to the front, restored if minimised, or the box it
// shows; it may take a moment to appear after that start took the mutex.
// Asynchronous calls only: this start must not wait on a busy dialog.
// False when no dialog appeared within 5 s.
bool BringFirstDialogForward() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    HWND dialog = nullptr;
    EnumWindows(FindMainDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog != nullptr) {
      if (IsIconic(dialog)) ShowWindowAsync(dialog, SW_RESTORE);
      HWND popup = GetLastActivePopup(dialog);
      SetForegroundWindow(popup != nullptr ? popup : dialog);
      return true;
    }
    Sleep(100);
  }
  return false;
}

// True when this is the only start in the logon session; the mutex is held
// until the process ends. A mutex that exists but cannot be opened is
// another start's too.
bool TakeInstanceMutex(pf::ScopedHandle* mutex) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) {  // as on NT, like the window calls
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    version.dwMajorVersion = 5;
  }
  SetLastError(ERROR_SUCCESS);
  *mutex->Receive() = CreateMutexA(nullptr, FALSE, InstanceMutexName(version.dwPlatformId, version.dwMajorVersion));
  const DWORD error = GetLastError();
  return !(error == ERROR_ALREADY_EXISTS || (!mutex->IsValid() && error == ERROR_ACCESS_DENIED));
}
}  // namespace

BOOL CCleanupApp::InitInstance() {
  pf::ScopedHandle instanceMutex;
  if (!TakeInstanceMutex(&instanceMutex)) {
    AnswerSecondStart(BringFirstDialogForward);
    return FALSE;
  }
  InitCommonControlsNow();
  CCleanupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;  // no message loop: the program ends with the dialog
}

int CCleanupApp::Run(HINSTANCE instance, int showCommand) {
  // Before anything else: the multibyte string functions compare and search
  // in the system's ANSI code page.
  _setmbcp(_MB_CP_ANSI);
  m_hInstance = instance;
  m_nCmdShow = showCommand;
  InitInstance();
  return 0;
}
