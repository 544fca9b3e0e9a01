// Pure pieces of the main dialog's message handling.
#pragma once
#include <cstring>

#include "app/resource.h"
#include "platform/system.h"

// System commands carry state in their low four bits: 0x0010..0x001F all mean About.
inline bool IsAboutCommand(unsigned commandId) { return (commandId & 0xFFF0) == IDM_ABOUT; }

// Where the icon of the minimised dialog is drawn: centred, signed division
// truncating toward zero (a client width of 0 with a 32-pixel icon gives -15).
inline int CentredIconOrigin(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}

// Windows 95, 98 and Me offer most W calls as stubs that only fail: there the
// dialogs and the menu entry are made with the A calls, in the system's own
// code page. Elsewhere, and when the version cannot be read, the W calls.
inline bool UsesAnsiWindowCalls() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return pf::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The main dialog while a removal run may be in progress. The run owns the
// user's requests until it ends: a second start is ignored, a close request
// is kept and carried out when the run has ended, the About box does not open.
class RunGate {
 public:
  // True when a run starts; false while one is in progress.
  bool Start() {
    if (running_) return false;
    running_ = true;
    return true;
  }
  // True when the dialog may end now; else the request waits for the run.
  bool RequestClose() {
    if (!running_) return true;
    closePending_ = true;
    return false;
  }
  // True when the dialog must end now, a close having been asked meanwhile.
  bool Finish() {
    running_ = false;
    const bool close = closePending_;
    closePending_ = false;
    return close;
  }
  bool Running() const { return running_; }
  bool AboutAllowed() const { return !running_; }
  // The wait cursor over every part of the dialog, but where the system
  // answers a click on the dialog disabled under a box (hit-test code HTERROR, -2).
  bool WantsWaitCursor(int hitTest) const { return running_ && hitTest != -2; }

 private:
  bool running_ = false;
  bool closePending_ = false;
};
