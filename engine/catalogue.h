// What each old edition installed: fixed profile data, and the names its
// installer created in the language of the system it ran on.
#pragma once
#include <cstddef>
#include <cstdint>

#include "i18n/language.h"
#include "platform/wintypes.h"

// Caller buffers of at least 260 bytes, in this order. Each name is given in
// the system's ANSI code page (NameInAnsiCodePage); one it cannot hold is "".
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
// Its bytes are in the language's code page (936, 950; English is ASCII).
const EditionNameRow& EditionNamesFor(int edition, UiLanguage language);

// name, stored in codePage (0: ASCII), as the A calls take it on this system:
// the same bytes where the ANSI code page is codePage (or the name is ASCII),
// else converted through UTF-16. A name the ANSI code page cannot hold whole,
// or that does not fit cap bytes converted, gives "" and false: never a
// shortened or guessed name.
bool NameInAnsiCodePage(const char* name, UINT codePage, char* out, size_t cap);

// The edition's window title as stored, not converted: the bytes the old tool
// set through the A calls, which the system read in its own ANSI code page.
const char* StoredToolWindowTitle(const EditionProfile& profile);

void GetEdition1Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
void GetEdition2Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
void GetEdition3Names(char* toolWindowTitle, char* menuFolder, char* menuSubfolder,
                      char* desktopShortcut);
