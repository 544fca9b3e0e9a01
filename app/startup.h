// The program's entry, after static initialisation.
#pragma once
#include "platform/wintypes.h"

// Where DLLs loaded by name after start-up are looked for.
enum class DllSearch {
  kSystemDirectoryOnly,      // neither the program's folder nor the current directory
  kWithoutCurrentDirectory,  // the program's folder still comes first
  kUnchanged,
};

// The program runs elevated from the folder it was downloaded to, next to
// whatever else was downloaded there; the shell and the common controls load
// DLLs by name on demand, which the standard search takes from the program's
// folder first. This narrows the search for the rest of the process.
DllSearch HardenDllSearch();

// Narrows the DLL search before anything else can load a DLL, asks the system
// to follow no junction a non-administrator made, then runs `run`
// with the show-window value the program was started with.
int StartProgram(HINSTANCE instance, int (*run)(HINSTANCE instance, int showCommand));
