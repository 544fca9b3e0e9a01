// The removal run behind the main button: editions 1, 2.0 and 3.0 in order.
#pragma once
#include "platform/wintypes.h"

// 1 when the edition was not installed or its removal pass ran to the end,
// 0 when the user declined to close the browsers.
int RemoveEdition1();
int RemoveEdition2();
int RemoveEdition3();

// How a removal run ended.
enum class RunOutcome {
  kStopped,     // the user declined to close the browsers: nothing more is shown
  kAllRemoved,  // every installed edition removed (or none installed)
  kNotAllowed,  // an edition's key exists but could not be opened with full
                // access: that edition was left, the others removed
};

// Editions 1, 2.0, 3.0 in turn; stops silently at the first that returns 0.
RunOutcome RunRemoval();
// The box that ends a run, owned by owner: "卸载成功", or the one that asks
// for administrator rights; none after a stopped run.
void ShowRunOutcome(HWND owner, RunOutcome outcome);
// Both, on the calling thread.
void RemoveAllEditions(HWND owner);
