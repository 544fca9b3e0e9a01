// What each old edition installed: fixed profile data, and the names its
// installer created in the language of the system it ran on.
#pragma once
#include <cstdint>

#include "i18n/language.h"

// Caller buffers of at least 260 bytes, in this order.
typedef void (*EditionNamesOperation)(char* toolWindowTitle, char* menuFolder,
                                      char* menuSubfolder, char* desktopShortcut);

struct EditionProfile {
  const char* uninstallKey;     // under HKEY_LOCAL_MACHINE
  const char* processPrefix;    // handed to TerminateByPrefix
  uint16_t closeCommandId;      // WM_COMMAND id for the old tool's window
  const char* runValues[2];     // second may be null
  const char* programFolder;    // "\name" below the Program Files folder
  EditionNamesOperation names;
};

struct EditionNameRow {
  const char* toolWindowTitle;
  const char* menuFolder;
  const char* menuSubfolder;
  const char* desktopShortcut;
};

extern const EditionProfile kEdition1Profile;
extern const EditionProfile kEdition2Profile;
extern const EditionProfile kEdition3Profile;

extern const char kRunKey[];
// Key vendor's resource libraries in the system directory, in removal order.
extern const char* const kResourceLibraries[3];

// Row of an edition (1..3) for a language; any language but 0 and 2 is English.
const EditionNameRow& EditionNamesFor(int edition, UiLanguage language);

void GetEdition1Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
void GetEdition2Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
void GetEdition3Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
