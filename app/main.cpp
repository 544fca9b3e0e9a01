#include <windows.h>

#include "app/cleanup_app.h"
#include "app/startup.h"

static int RunApplication(HINSTANCE instance, int showCommand) { return theApp.Run(instance, showCommand); }

// The program's entry, in place of the runtime's start-up code (the exe is
// linked without it): msvcrt.dll sets itself up when it is loaded, and the
// program has no static constructors and reads no command line. The process
// ends here, whatever other thread still runs.
extern "C" void WinMainCRTStartup() { ExitProcess(StartProgram(GetModuleHandleA(nullptr), RunApplication)); }
