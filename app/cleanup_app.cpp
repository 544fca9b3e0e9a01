#include "app/cleanup_app.h"

#include <commctrl.h>
#include <mbctype.h>

#include "app/cleanup_dlg.h"

// Before any other static object: the multibyte string functions compare and
// search in the system's ANSI code page.
static const int g_mbcpSet = _setmbcp(_MB_CP_ANSI);

CCleanupApp theApp;

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

BOOL CCleanupApp::InitInstance() {
  InitCommonControlsNow();
  CCleanupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;  // no message loop: the program ends with the dialog
}

int CCleanupApp::Run(HINSTANCE instance, int showCommand) {
  (void)g_mbcpSet;
  m_hInstance = instance;
  m_nCmdShow = showCommand;
  InitInstance();
  return 0;
}
