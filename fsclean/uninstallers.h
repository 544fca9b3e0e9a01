// Running the uninstallers the old installers left in the Windows and system
// directories, silently and one at a time.
#pragma once

class RunRecord;

// Told, on the calling thread, of each uninstaller as it starts (seconds 0)
// and about once a second while it and what it started are waited for.
// which: 0 "unins000.exe", 1 "Uninstall.exe", 2 "uninst.exe".
struct UninstallerWatch {
  void (*tick)(void* context, unsigned which, unsigned seconds);
  void* context;
};
const char* LeftoverUninstallerName(unsigned which);

// Runs each leftover uninstaller there is, one at a time, and then deletes
// capicom.dll if uninst.exe was started. Elevated, an uninstaller gets only the
// system's variables, TEMP and TMP in the run's folder; it is not started at
// all where that cannot be had. The uninstallers found but not started, as
// bits 1 << which.
// record: where the run's TEMP is made and trusted (may be null).
unsigned RunLeftoverUninstallers(const UninstallerWatch* watch = nullptr, RunRecord* record = nullptr);
