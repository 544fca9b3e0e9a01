// Brannoch as it was before the DLL search was narrowed at start-up: the
// planted-DLL scenario runs it to show that the planted DLL does get loaded.
#include <windows.h>

#include "app/cleanup_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  return theApp.Run(instance, show);
}
