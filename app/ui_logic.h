// Pure pieces of the main dialog's message handling.
#pragma once
#include "app/resource.h"
#include "engine/removal.h"
#include "i18n/texts.h"
#include "platform/window.h"

// System commands carry state in their low four bits: 0x0010..0x001F all mean About.
inline bool IsAboutCommand(unsigned commandId) { return (commandId & 0xFFF0) == IDM_ABOUT; }

// Where the icon of the minimised dialog is drawn: centred, signed division
// truncating toward zero (a client width of 0 with a 32-pixel icon gives -15).
inline int CentredIconOrigin(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}

using pf::UsesAnsiWindowCalls;

// The name of the mutex that keeps the program to one dialog at a time: in
// the logon session ("Local\\") from Windows 2000 on; Windows 9x and NT 4
// have no such namespaces.
inline const char* InstanceMutexName(DWORD platformId, DWORD majorVersion) {
  if (platformId == VER_PLATFORM_WIN32_NT && majorVersion >= 5) return "Local\\Brannoch.CleanupDialog";
  return "Brannoch.CleanupDialog";
}

// A second start, which found the program's name taken: bringForward brings
// the first start's dialog to the front and answers false when none appeared
// in time (any program of the session can take the name first). The user is
// then told why nothing opens.
inline void AnswerSecondStart(bool (*bringForward)()) {
  if (bringForward()) return;
  pf::MessageBoxInCodePage(nullptr, SecondStartText, SuccessCaption, kFixedTextsCodePage, MB_OK | MB_ICONINFORMATION);
}

// How a run's end is taken.
enum class RunEnd {
  kIgnored,     // no run in progress, or not from the run's thread
  kEnded,       // the dialog goes on
  kEndedClose,  // a close was asked meanwhile: the dialog ends now
};

// The main dialog while a removal run may be in progress. The run owns the
// user's requests until it ends: a second start is ignored, a close request
// is kept and carried out when the run has ended, the About box does not open.
// Only the thread that does the run can end it.
class RunGate {
 public:
  // True when a run starts, done by thread `runner`; false while one is in progress.
  bool Start(unsigned runner) {
    if (running_) return false;
    running_ = true;
    runner_ = runner;
    return true;
  }
  // The thread that does the run, once it is known.
  void SetRunner(unsigned runner) { runner_ = runner; }
  // True when the dialog may end now; else the request waits for the run.
  bool RequestClose() {
    if (!running_) return true;
    closePending_ = true;
    return false;
  }
  // The end of a run as reported by thread `sender`.
  RunEnd Finish(unsigned sender) {
    if (!running_ || sender != runner_) return RunEnd::kIgnored;
    running_ = false;
    const bool close = closePending_;
    closePending_ = false;
    return close ? RunEnd::kEndedClose : RunEnd::kEnded;
  }
  bool Running() const { return running_; }
  bool ClosePending() const { return closePending_; }
  bool AboutAllowed() const { return !running_; }
  // The busy cursor over every part of the dialog, but where the system
  // answers a click on the dialog disabled under a box (hit-test code HTERROR, -2).
  bool WantsWaitCursor(int hitTest) const { return running_ && hitTest != -2; }

 private:
  bool running_ = false;
  bool closePending_ = false;
  unsigned runner_ = 0;
};

// How the bar (PBM_SETSTATE: PBST_NORMAL 1, PBST_ERROR 2, PBST_PAUSED 3) and
// the taskbar button (TBPF_NORMAL 2, TBPF_ERROR 4, TBPF_PAUSED 8) end a run
// whose final box is shown: an edition refused is an error, something that
// stays a pause.
struct RunEndLook {
  unsigned barState;
  unsigned taskbarState;
};
inline RunEndLook EndLookOf(RunResult result) {
  if (result.outcome == RunOutcome::kNotAllowed) return {2, 4};
  if (result.stays != WhatStays::kNothing) return {3, 8};
  return {1, 2};
}

// Live regions (UI Automation's LiveSetting, raised with
// EVENT_OBJECT_LIVEREGIONCHANGED) exist from Windows 8 (NT 6.2) on.
inline bool HasLiveRegions(DWORD platformId, DWORD major, DWORD minor) {
  return platformId == VER_PLATFORM_WIN32_NT && (major > 6 || (major == 6 && minor >= 2));
}
