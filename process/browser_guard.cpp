#include "process/browser_guard.h"

#include "i18n/language.h"
#include "i18n/texts.h"
#include "platform/mbstring.h"
#include "platform/system.h"
#include "platform/window.h"
#include "process/process_table.h"

const char* const BrowserExeNames[11] = {
    "IEXPLORE.exe", "sogouexplorer.exe", "360se.exe", "Maxthon.exe",  "firefox.exe",
    "QQBrowser.exe", "TTraveler.exe",    "Safari.exe", "Avant.exe",   "Ruiying.exe",
    "TheWorld.exe"};

static bool AnyBrowserRunning() {
  for (const char* name : BrowserExeNames)
    if (IsBrowserRunning(name)) return true;
  return false;
}

int ConfirmBrowsersClosed() {
  for (;;) {
    browserTableFilled = 0;  // one new snapshot per sweep
    if (!AnyBrowserRunning()) return 1;
    SelectUiLanguage();
    const UiLanguage language = currentUiLanguage < 3 ? currentUiLanguage : kUiEnglish;
    // No owner window: the prompt stands on its own, whatever dialog is open.
    const int answer = pf::MessageBoxInCodePage(nullptr, BrowserPromptTexts[language], BrowserPromptCaption,
                                                BrowserPromptCodePages[language], MB_YESNO | MB_ICONINFORMATION);
    if (answer != IDYES) return 0;
    pf::Sleep(500);
  }
}

bool IsBrowserOrShellExe(const char* exeFile) {
  const char* part = MbFileNamePart(exeFile);
  if (part[0] == '\0') return false;
  for (const char* name : BrowserExeNames)
    if (pf::MbsICmp(part, name) == 0) return true;
  return pf::MbsICmp(part, "explorer.exe") == 0;
}

bool SameExeFileName(const char* exeFile, const char* otherPath) {
  const char* part = MbFileNamePart(exeFile);
  const char* other = MbFileNamePart(otherPath);
  return part[0] != '\0' && other[0] != '\0' && pf::MbsICmp(part, other) == 0;
}
