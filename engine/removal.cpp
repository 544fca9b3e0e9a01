#include "engine/removal.h"

#include <cstring>

#include "engine/catalogue.h"
#include "engine/outcome.h"
#include "fsclean/delete.h"
#include "fsclean/leftovers.h"
#include "fsclean/paths.h"
#include "fsclean/shortcut.h"
#include "fsclean/uninstallers.h"
#include "i18n/texts.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"
#include "process/browser_guard.h"
#include "process/stop_tool.h"

namespace {

// The special folder, or false when the shell cannot name it: the step that
// builds on it is then skipped.
bool SpecialFolder(int csidl, char* buffer) {
  return pf::SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE) && buffer[0] != '\0';
}

void DeleteRunValues(const EditionProfile& profile) {
  pf::ScopedRegKey run;
  if (!run.Open(HKEY_LOCAL_MACHINE, kRunKey, KEY_ALL_ACCESS)) return;
  for (const char* value : profile.runValues)
    if (value != nullptr) pf::RegDeleteValueA(run.Get(), value);
}

void RemoveProgramFolder(const EditionProfile& profile, RunRecord* record) {
  char programFiles[MAX_PATH] = {};
  char folder[MAX_PATH] = {};
  // A program folder that is a link loses the link only.
  if (SpecialFolder(CSIDL_PROGRAM_FILES, programFiles) &&
      CheckBelow(programFiles, profile.programFolder, folder, MAX_PATH) != PathBelow::kRefused)
    EmptyAndRemoveFolderBelow(programFiles, folder, record);
}

// The vendor folder is emptied; the program group around it is only removed
// when empty, else at the next restart (its other files are not ours to delete).
void RemoveStartMenuFolders(const char* menuFolder, const char* menuSubfolder, RunRecord* record) {
  char programs[MAX_PATH] = {};
  if (!SpecialFolder(CSIDL_COMMON_PROGRAMS, programs)) return;
  char inner[MAX_PATH] = {};
  char outer[MAX_PATH] = {};
  if (CheckBelow(programs, menuSubfolder, inner, MAX_PATH) != PathBelow::kRefused)
    EmptyAndRemoveFolderBelow(programs, inner, record);
  const PathBelow group = CheckBelow(programs, menuFolder, outer, MAX_PATH);
  if (group == PathBelow::kRefused) return;
  if (group == PathBelow::kLink) {  // the link itself, never scheduled
    pf::RemoveDirectoryA(outer);
    return;
  }
  pf::SetFileAttributesA(outer, FILE_ATTRIBUTE_NORMAL);
  pf::Sleep(100);
  RemoveOrScheduleFolderBelow(programs, outer, record);
}

void DeleteResourceLibraries(RunRecord* record) {
  char systemDir[MAX_PATH] = {};
  const UINT n = pf::GetSystemDirectoryA(systemDir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || systemDir[0] == '\0') return;
  for (const char* library : kResourceLibraries) {
    char path[MAX_PATH] = {};
    if (ComposePath(path, MAX_PATH, systemDir, library)) DeleteOrScheduleFile(path, record);
  }
}

// The end of a run: what was moved aside on the volumes the run works on
// (the system directory's and the special folders') is handed to the
// restart, each file and then its folder once. Also picks up what a run
// ended earlier moved aside and left unscheduled.
void HandOverMovedFiles(RunRecord* record) {
  char path[MAX_PATH] = {};
  const UINT n = pf::GetSystemDirectoryA(path, MAX_PATH);
  if (n != 0 && n < MAX_PATH) ScheduleRunFolders(path, record);
  static const int specialFolders[] = {CSIDL_PROGRAM_FILES, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY};
  for (int csidl : specialFolders) {
    char folder[MAX_PATH] = {};
    if (SpecialFolder(csidl, folder)) ScheduleRunFolders(folder, record);
  }
}

void Report(const RunProgress* progress, unsigned step, unsigned detail = 0) {
  if (progress != nullptr) progress->report(progress->context, step, detail);
}

// An uninstaller's wait, told as the run's uninstaller step.
struct UninstallerStep {
  const RunProgress* progress;
  unsigned step;
};
void TellUninstaller(void* context, unsigned which, unsigned seconds) {
  const UninstallerStep* at = static_cast<const UninstallerStep*>(context);
  Report(at->progress, at->step, UninstallerDetail(which, seconds));
}

// An uninstaller that could not be started as the run requires (with the
// system's environment and the run's TEMP) keeps the edition's key, so the
// next run starts it again. which: the bits of RunLeftoverUninstallers.
void NoteUninstallersNotStarted(unsigned which, RunRecord* record) {
  for (unsigned i = 0; i < 3; ++i) {
    if (!(which & (1u << i))) continue;
    char dir[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    const UINT n = i == 0 ? pf::GetWindowsDirectoryA(dir, MAX_PATH) : pf::GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !ComposePath(path, MAX_PATH, dir, "\\", LeftoverUninstallerName(i))) path[0] = '\0';
    record->Stay(path, StayReason::kNotStarted, true);
  }
}

// denied: set when the edition's key exists but refuses full access (the
// program runs without administrator rights); the edition is then left as
// not installed. A missing key, or any other failure, leaves it clear.
int RemoveEdition(const EditionProfile& profile, bool* denied, RunRecord* record,
                  const RunProgress* progress = nullptr, unsigned firstStep = 0) {
  pf::ScopedRegKey uninstallKey;
  LONG error = ERROR_SUCCESS;
  if (!uninstallKey.Open(HKEY_LOCAL_MACHINE, profile.uninstallKey, KEY_ALL_ACCESS, &error)) {
    *denied = error == ERROR_ACCESS_DENIED;
    return 1;
  }
  if (!ConfirmBrowsersClosed()) return 0;
  const unsigned keptBefore = record->KeptKeyCount();

  char toolWindowTitle[MAX_PATH] = {};
  char menuFolder[MAX_PATH] = {};
  char menuSubfolder[MAX_PATH] = {};
  char desktopShortcut[MAX_PATH] = {};
  profile.names(toolWindowTitle, menuFolder, menuSubfolder, desktopShortcut);

  Report(progress, firstStep + static_cast<unsigned>(RunStepKind::kStopPrograms));
  TerminateByPrefix(profile.processPrefix, nullptr, nullptr, nullptr);
  TerminateByPrefix(profile.processPrefix, nullptr, nullptr, nullptr);
  // Converted, or as stored: what the old tool's A calls set.
  CloseToolWindow(toolWindowTitle, profile.closeCommandId, StoredToolWindowTitle(profile));

  Report(progress, firstStep + static_cast<unsigned>(RunStepKind::kDeleteFiles));
  DeleteRunValues(profile);
  RemoveProgramFolder(profile, record);
  RemoveStartMenuFolders(menuFolder, menuSubfolder, record);
  RemoveShortcutAndFolders(desktopShortcut, CSIDL_COMMON_DESKTOPDIRECTORY, record);

  const unsigned uninstallerStep = firstStep + static_cast<unsigned>(RunStepKind::kRunUninstallers);
  Report(progress, uninstallerStep);
  UninstallerStep at = {progress, uninstallerStep};
  const UninstallerWatch watch = {&TellUninstaller, &at};
  NoteUninstallersNotStarted(RunLeftoverUninstallers(progress != nullptr ? &watch : nullptr, record), record);
  Report(progress, firstStep + static_cast<unsigned>(RunStepKind::kDeleteLibraries));
  DeleteResourceLibraries(record);

  // Last, with its subkeys: the key is the only sign that the edition is
  // installed, so a run cut short before this point is redone in full by the
  // next one (every step above is harmless to repeat). So is an edition that
  // left what a program of the user's holds, or an uninstaller that could not
  // be started: the next run, once that program is closed, tries it again.
  // What stays for a reason another run cannot mend does not keep the key.
  uninstallKey.Close();
  if (record->KeptKeyCount() != keptBefore) return 1;
  pf::SHDeleteKeyA(HKEY_LOCAL_MACHINE, profile.uninstallKey);
  return 1;
}

}  // namespace

namespace {
int RemoveOneEdition(const EditionProfile& profile) {
  bool denied = false;
  RunRecord record;
  const int result = RemoveEdition(profile, &denied, &record);
  HandOverMovedFiles(&record);
  return result;
}
}  // namespace

int RemoveEdition1() { return RemoveOneEdition(kEdition1Profile); }
int RemoveEdition2() { return RemoveOneEdition(kEdition2Profile); }
int RemoveEdition3() { return RemoveOneEdition(kEdition3Profile); }

const RunStep kRunSteps[kRunStepCount] = {
    {1, RunStepKind::kStopPrograms, 2}, {1, RunStepKind::kDeleteFiles, 2},
    {1, RunStepKind::kRunUninstallers, 8}, {1, RunStepKind::kDeleteLibraries, 1},
    {2, RunStepKind::kStopPrograms, 2}, {2, RunStepKind::kDeleteFiles, 2},
    {2, RunStepKind::kRunUninstallers, 8}, {2, RunStepKind::kDeleteLibraries, 1},
    {3, RunStepKind::kStopPrograms, 2}, {3, RunStepKind::kDeleteFiles, 2},
    {3, RunStepKind::kRunUninstallers, 8}, {3, RunStepKind::kDeleteLibraries, 1},
    {0, RunStepKind::kHandOver, 1},
};

unsigned RunProgressBefore(unsigned step) {
  unsigned sum = 0;
  for (unsigned i = 0; i < step && i < kRunStepCount; ++i) sum += kRunSteps[i].weight;
  return sum;
}

namespace {
// Appends text to line, as much as fits with the terminator.
void Append(char* line, unsigned capacity, const char* text) {
  const size_t used = std::strlen(line);
  size_t n = std::strlen(text);
  if (used + n >= capacity) n = capacity - 1 - used;
  std::memcpy(line + used, text, n);
  line[used + n] = '\0';
}
void AppendNumber(char* line, unsigned capacity, unsigned value) {
  char digits[12];
  char* p = digits + sizeof digits - 1;
  *p = '\0';
  do *--p = static_cast<char>('0' + value % 10); while ((value /= 10) != 0);
  Append(line, capacity, p);
}
// Beyond this an uninstaller's wait is named with its length.
constexpr unsigned kTellWaitAfterSeconds = 3;
}  // namespace

void ComposeRunStepLine(char* line, unsigned capacity, unsigned step, unsigned detail, bool closing) {
  if (capacity == 0) return;
  line[0] = '\0';
  if (step >= kRunStepCount) return;
  const RunStep& s = kRunSteps[step];
  // The edition by its Start-menu group name as users know it, shown as 936
  // whatever the UI language. The line holds one row of 60 half-width cells:
  // a close note takes the name's place.
  if (s.edition != 0 && !closing && !(s.kind == RunStepKind::kRunUninstallers && detail != 0)) {
    Append(line, capacity, EditionNamesFor(s.edition, kUiSimplifiedChinese).menuFolder + 1);
    Append(line, capacity, EditionStepSeparator);
  }
  Append(line, capacity, RunStepTexts[static_cast<unsigned>(s.kind)]);
  if (s.kind == RunStepKind::kRunUninstallers && detail != 0) {
    // The uninstallers are the system's leftovers, not the edition's: named alone.
    Append(line, capacity, " ");
    Append(line, capacity, LeftoverUninstallerName((detail >> 16) - 1));
    if (!closing && (detail & 0xFFFF) >= kTellWaitAfterSeconds) {
      Append(line, capacity, WaitedText);
      AppendNumber(line, capacity, detail & 0xFFFF);
      Append(line, capacity, SecondsText);
    }
  }
  if (closing) Append(line, capacity, RunClosingText);
}

RunResult RunRemoval(RunRecord* record, const RunProgress* progress) {
  record->Clear();
  bool anyDenied = false;
  RunResult result = {RunOutcome::kStopped, RestartNeed::kNone, WhatStays::kNothing};
  static const EditionProfile* const editions[] = {&kEdition1Profile, &kEdition2Profile, &kEdition3Profile};
  for (unsigned i = 0; i < 3; ++i) {
    bool denied = false;
    if (!RemoveEdition(*editions[i], &denied, record, progress, i * kStepsPerEdition)) {
      HandOverMovedFiles(record);
      return result;
    }
    anyDenied = anyDenied || denied;
  }
  Report(progress, kRunStepCount - 1);
  // After the keys are decided: a refusal here is told, never a reason to keep one.
  HandOverMovedFiles(record);
  result.outcome = anyDenied ? RunOutcome::kNotAllowed : RunOutcome::kAllRemoved;
  if (RestartRemovesSomething()) result.restart = RestartNeed::kRestart;
  bool held = false;
  for (unsigned i = 0; i < record->StayCount() && i < RunRecord::kMaxItems; ++i)
    held = held || record->Item(i).why == StayReason::kHeld;
  if (held) result.stays = WhatStays::kCloseAndRunAgain;
  else if (record->KeptKeyCount() != 0) result.stays = WhatStays::kRunAgain;
  else if (record->StayCount() != 0) result.stays = WhatStays::kAskAdministrator;
  return result;
}

void ShowRunOutcome(HWND owner, RunResult result, const RunRecord& record) {
  if (result.outcome == RunOutcome::kStopped) return;
  // Room for the longest: three shortened paths with their holders, the
  // fixed texts around them.
  WCHAR text[640], caption[16];
  const bool allRemoved = result.outcome == RunOutcome::kAllRemoved && result.stays == WhatStays::kNothing;
  const UINT style = allRemoved ? MB_OK : MB_OK | MB_ICONWARNING;
  if (ComposeRunOutcome(result, record, text, sizeof text / sizeof text[0]) &&
      pf::MultiByteToWideChar(kFixedTextsCodePage, 0, SuccessCaption, -1, caption, 16) > 0) {
    pf::MessageBoxUnicode(owner, text, caption, style, kFixedTextsCodePage);
    return;
  }
  // Without code page 936 (an optional install before Vista): the head alone,
  // as the system can show it.
  const char* head = allRemoved ? SuccessText
                     : result.outcome == RunOutcome::kNotAllowed ? NotAllRemovedText : LeftoverText;
  pf::MessageBoxInCodePage(owner, head, SuccessCaption, kFixedTextsCodePage, style);
}

void RemoveAllEditions(HWND owner) {
  RunRecord record;
  const RunResult result = RunRemoval(&record);
  ShowRunOutcome(owner, result, record);
}
