#include "engine/removal.h"

#include "engine/catalogue.h"
#include "fsclean/delete.h"
#include "fsclean/paths.h"
#include "fsclean/shortcut.h"
#include "fsclean/uninstallers.h"
#include "i18n/texts.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
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

void RemoveProgramFolder(const EditionProfile& profile) {
  char programFiles[MAX_PATH] = {};
  char folder[MAX_PATH] = {};
  // A program folder that is a link loses the link only.
  if (SpecialFolder(CSIDL_PROGRAM_FILES, programFiles) &&
      CheckBelow(programFiles, profile.programFolder, folder, MAX_PATH) != PathBelow::kRefused)
    EmptyAndRemoveFolderBelow(programFiles, folder);
}

// The vendor folder is emptied; the program group around it is only removed
// when empty, else at the next restart (its other files are not ours to delete).
void RemoveStartMenuFolders(const char* menuFolder, const char* menuSubfolder) {
  char programs[MAX_PATH] = {};
  if (!SpecialFolder(CSIDL_COMMON_PROGRAMS, programs)) return;
  char inner[MAX_PATH] = {};
  char outer[MAX_PATH] = {};
  if (CheckBelow(programs, menuSubfolder, inner, MAX_PATH) != PathBelow::kRefused)
    EmptyAndRemoveFolderBelow(programs, inner);
  const PathBelow group = CheckBelow(programs, menuFolder, outer, MAX_PATH);
  if (group == PathBelow::kRefused) return;
  if (group == PathBelow::kLink) {  // the link itself, never scheduled
    pf::RemoveDirectoryA(outer);
    return;
  }
  pf::SetFileAttributesA(outer, FILE_ATTRIBUTE_NORMAL);
  pf::Sleep(100);
  RemoveOrScheduleFolderBelow(programs, outer);
}

void DeleteResourceLibraries() {
  char systemDir[MAX_PATH] = {};
  const UINT n = pf::GetSystemDirectoryA(systemDir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || systemDir[0] == '\0') return;
  for (const char* library : kResourceLibraries) {
    char path[MAX_PATH] = {};
    if (ComposePath(path, MAX_PATH, systemDir, library)) DeleteOrScheduleFile(path);
  }
}

// The end of a run: what was moved aside on the volumes the run works on
// (the system directory's and the special folders') is handed to the
// restart, each file and then its folder once. Also picks up what a run
// ended earlier moved aside and left unscheduled.
void HandOverMovedFiles() {
  char path[MAX_PATH] = {};
  const UINT n = pf::GetSystemDirectoryA(path, MAX_PATH);
  if (n != 0 && n < MAX_PATH) ScheduleRunFolders(path);
  static const int specialFolders[] = {CSIDL_PROGRAM_FILES, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY};
  for (int csidl : specialFolders) {
    char folder[MAX_PATH] = {};
    if (SpecialFolder(csidl, folder)) ScheduleRunFolders(folder);
  }
}

// denied: set when the edition's key exists but refuses full access (the
// program runs without administrator rights); the edition is then left as
// not installed. A missing key, or any other failure, leaves it clear.
int RemoveEdition(const EditionProfile& profile, bool* denied) {
  pf::ScopedRegKey uninstallKey;
  LONG error = ERROR_SUCCESS;
  if (!uninstallKey.Open(HKEY_LOCAL_MACHINE, profile.uninstallKey, KEY_ALL_ACCESS, &error)) {
    *denied = error == ERROR_ACCESS_DENIED;
    return 1;
  }
  if (!ConfirmBrowsersClosed()) return 0;

  char toolWindowTitle[MAX_PATH] = {};
  char menuFolder[MAX_PATH] = {};
  char menuSubfolder[MAX_PATH] = {};
  char desktopShortcut[MAX_PATH] = {};
  profile.names(toolWindowTitle, menuFolder, menuSubfolder, desktopShortcut);

  TerminateByPrefix(profile.processPrefix, nullptr, nullptr, nullptr);
  TerminateByPrefix(profile.processPrefix, nullptr, nullptr, nullptr);
  // Converted, or as stored: what the old tool's A calls set.
  CloseToolWindow(toolWindowTitle, profile.closeCommandId, StoredToolWindowTitle(profile));

  DeleteRunValues(profile);
  RemoveProgramFolder(profile);
  RemoveStartMenuFolders(menuFolder, menuSubfolder);
  RemoveShortcutAndFolders(desktopShortcut, CSIDL_COMMON_DESKTOPDIRECTORY);

  RunLeftoverUninstallers();
  DeleteResourceLibraries();

  // Last, with its subkeys: the key is the only sign that the edition is
  // installed, so a run cut short before this point is redone in full by the
  // next one (every step above is harmless to repeat).
  uninstallKey.Close();
  pf::SHDeleteKeyA(HKEY_LOCAL_MACHINE, profile.uninstallKey);
  return 1;
}

}  // namespace

namespace {
int RemoveOneEdition(const EditionProfile& profile) {
  bool denied = false;
  const int result = RemoveEdition(profile, &denied);
  HandOverMovedFiles();
  return result;
}
}  // namespace

int RemoveEdition1() { return RemoveOneEdition(kEdition1Profile); }
int RemoveEdition2() { return RemoveOneEdition(kEdition2Profile); }
int RemoveEdition3() { return RemoveOneEdition(kEdition3Profile); }

RunOutcome RunRemoval() {
  bool anyDenied = false;
  static const EditionProfile* const editions[] = {&kEdition1Profile, &kEdition2Profile, &kEdition3Profile};
  for (const EditionProfile* profile : editions) {
    bool denied = false;
    if (!RemoveEdition(*profile, &denied)) {
      HandOverMovedFiles();
      return RunOutcome::kStopped;
    }
    anyDenied = anyDenied || denied;
  }
  HandOverMovedFiles();
  return anyDenied ? RunOutcome::kNotAllowed : RunOutcome::kAllRemoved;
}

void ShowRunOutcome(HWND owner, RunOutcome outcome) {
  if (outcome == RunOutcome::kAllRemoved)
    pf::MessageBoxInCodePage(owner, SuccessText, SuccessCaption, kFixedTextsCodePage, MB_OK);
  else if (outcome == RunOutcome::kNotAllowed)
    pf::MessageBoxInCodePage(owner, NotAllRemovedText, SuccessCaption, kFixedTextsCodePage,
                             MB_OK | MB_ICONWARNING);
}

void RemoveAllEditions(HWND owner) { ShowRunOutcome(owner, RunRemoval()); }
