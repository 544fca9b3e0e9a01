#include <windows.h>

#include "app/cleanup_app.h"
#include "app/startup.h"

static int RunApplication(HINSTANCE instance, int showCommand) { return theApp.Run(instance, showCommand); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return StartProgram(instance, RunApplication); }
