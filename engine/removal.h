// The removal run behind the main button: editions 1, 2.0 and 3.0 in order.
#pragma once
#include "platform/wintypes.h"

class RunRecord;

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

// What the old editions still need once the run has ended.
enum class RestartNeed {
  kNone,
  kRestart,  // the system's restart list grew during the run
};

// What stays of the old editions, and what the user can do about it.
enum class WhatStays {
  kNothing,           // everything was removed or handed to the restart
  kCloseAndRunAgain,  // a program of the user's holds something: close it, run again
  kRunAgain,          // an uninstaller could not be started: the next run starts it again
  kAskAdministrator,  // something stays that another run would not remove
};

struct RunResult {
  RunOutcome outcome;
  RestartNeed restart;
  WhatStays stays;
};

// The steps of a run, in order: four for each edition (1, 2.0, 3.0), then
// the hand-over of what was moved aside. An edition not installed reports
// none of its steps. Each step weighs what it usually takes.
enum class RunStepKind : unsigned char { kStopPrograms, kDeleteFiles, kRunUninstallers, kDeleteLibraries, kHandOver };
struct RunStep {
  unsigned char edition;  // 1, 2 (2.0), 3 (3.0); 0 for the hand-over
  RunStepKind kind;
  unsigned char weight;
};
constexpr unsigned kStepsPerEdition = 4;
constexpr unsigned kRunStepCount = 3 * kStepsPerEdition + 1;
extern const RunStep kRunSteps[kRunStepCount];
// Where the progress stands when step begins: the weight of the steps before
// it; kRunStepCount gives the whole run's.
unsigned RunProgressBefore(unsigned step);
// The detail of an uninstaller step: which one (see RunLeftoverUninstallers)
// and the seconds it has been waited for.
constexpr unsigned UninstallerDetail(unsigned which, unsigned seconds) {
  return (which + 1) << 16 | (seconds & 0xFFFF);
}
// The line that names step (and detail) for the user, as code-page-936 bytes;
// closing: a close was asked, which the run's end carries out.
void ComposeRunStepLine(char* line, unsigned capacity, unsigned step, unsigned detail, bool closing = false);

// Told, on the run's thread, of each step as it begins, and of an
// uninstaller's wait about once a second (detail 0, or UninstallerDetail).
struct RunProgress {
  void (*report)(void* context, unsigned step, unsigned detail);
  void* context;
};

// Editions 1, 2.0, 3.0 in turn; stops silently at the first that returns 0.
// What stays is noted in record (cleared first), which the caller owns.
RunResult RunRemoval(RunRecord* record, const RunProgress* progress = nullptr);
// The box that ends a run, owned by owner, its text composed in UTF-16
// (engine/outcome.h): "卸载成功", or the one that asks for administrator
// rights, or, where something stays, the one that names it and says what to
// do; none after a stopped run.
void ShowRunOutcome(HWND owner, RunResult result, const RunRecord& record);
// Both, on the calling thread, with a record of its own.
void RemoveAllEditions(HWND owner);
