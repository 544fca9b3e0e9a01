#pragma once
#include <windows.h>

class CCleanupDlg;

// The application object: runs the main dialog modally, then the program ends.
class CCleanupApp {
 public:
  CCleanupApp() = default;
  int Run(HINSTANCE instance, int showCommand);
  BOOL InitInstance();

  CCleanupDlg* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  int m_nCmdShow = 0;  // set by Run; zero keeps the object out of the exe's data
};

extern CCleanupApp theApp;
