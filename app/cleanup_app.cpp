#include "app/cleanup_app.h"

#include <commctrl.h>
#include <mbctype.h>

#include "app/cleanup_dlg.h"

// Before any other static object: the multibyte string functions compare and
// search in the system's ANSI code page.
static const int g_mbcpSet = _setmbcp(_MB_CP_ANSI);

CCleanupApp theApp;

BOOL CCleanupApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
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
