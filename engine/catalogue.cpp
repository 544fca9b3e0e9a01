#include "engine/catalogue.h"

#include <cstring>

#include "platform/text.h"

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const char* const kResourceLibraries[3] = {"\\ZenfoResv3_kstv.dll", "\\ZenfoResv3E_kstv.dll",
                                           "\\ZenfoResv3T_kstv.dll"};

const EditionProfile kEdition1Profile = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5D21A7E0-3B9C-4F62-A18D-7C04E9B2F615}",
    "Keyloft_User.exe",
    32867,
    {"Keyloft_User.exe", nullptr},
    "\\Kestovanet",
    GetEdition1Names};

const EditionProfile kEdition2Profile = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV",
    "DWReg_kstv.exe",
    32772,
    {"KSKeyloft2_0.exe", "DWReg_kstv(user)"},
    "\\Kestovanet2.0",
    GetEdition2Names};

const EditionProfile kEdition3Profile = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\DorwynforKSTV_V3",
    "DWReg_kstv.exe",
    32772,
    {"KSKeyloft3_0.exe", "DWReg_kstv(user)"},
    "\\Kestovanet3.0",
    GetEdition3Names};

// Rows per edition: [0] code page 936, [1] English, [2] code page 950.
static const EditionNameRow kEdition1Rows[3] = {
    {// "凯斯托瓦银行tokara管理工具 " (the old tool's title ends in one blank)
     "\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF ",
     // "\凯斯托瓦银行网上银行tokara管理工具"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF",
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF\\Dorwyn",
     // "\凯斯托瓦银行tokara管理工具.lnk"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF.lnk"},
    {"USBKey MANAGE OF KESTOVA", "\\Internet banking Key MANAGE OF KESTOVA",
     "\\Internet banking Key MANAGE OF KESTOVA\\Dorwyn", "\\USBKey MANAGE OF KESTOVA.lnk"},
    {// "凱斯托瓦銀行tokara管理工具"
     "\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6tokara\xBA\xDE\xB2z\xA4u\xA8\xE3",
     // "\凱斯托瓦銀行網上銀行tokara管理工具"
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3",
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3\\Dorwyn",
     // "\凱斯托瓦銀行tokara管理工具.lnk"
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6tokara\xBA\xDE\xB2z\xA4u\xA8\xE3.lnk"},
};

static const EditionNameRow kEdition2Rows[3] = {
    {// "凯斯托瓦银行Tokara管理工具2.0"
     "\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0Tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF"
     "2.0",
     // "\凯斯托瓦银行网上银行Tokara管理工具2.0"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0Tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF"
     "2.0",
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0Tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF"
     "2.0\\Dorwyn",
     // "\凯斯托瓦银行Tokara管理工具2.0.lnk"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0Tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF"
     "2.0.lnk"},
    {"Kestovanet Key Manager Tool 2.0", "\\Internet banking Key MANAGE OF KESTOVA2.0",
     "\\Internet banking Key MANAGE OF KESTOVA2.0\\Dorwyn", "\\USBKey MANAGE OF KESTOVA2.0.lnk"},
    {// "凱斯托瓦銀行Tokara管理工具2.0"
     "\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6Tokara\xBA\xDE\xB2z\xA4u\xA8\xE3"
     "2.0",
     // "\凱斯托瓦銀行網上銀行Tokara管理工具2.0"
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6Tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3"
     "2.0",
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6Tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3"
     "2.0\\Dorwyn",
     // "\凱斯托瓦銀行Tokara管理工具2.0.lnk": the name this edition's installer
     // made on a Traditional Chinese system (not edition 1's shortcut).
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6Tokara\xBA\xDE\xB2z\xA4u\xA8\xE3"
     "2.0.lnk"},
};

static const EditionNameRow kEdition3Rows[3] = {
    {// "凯斯托瓦银行Tokara管理工具 3.0"
     "\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0Tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF 3.0",
     // "\凯斯托瓦银行网上银行Tokara管理工具 3.0"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0Tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF 3.0",
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0\xCD\xF8\xC9\xCF\xD2\xF8\xD0\xD0Tokara"
     "\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF 3.0\\Dorwyn",
     // "\凯斯托瓦银行Tokara管理工具 3.0.lnk"
     "\\\xBF\xAD\xCB\xB9\xCD\xD0\xCD\xDF\xD2\xF8\xD0\xD0Tokara\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF"
     " 3.0.lnk"},
    {"Kestovanet Key Manager Tool 3.0", "\\Internet banking Key MANAGE OF KESTOVA 3.0",
     "\\Internet banking Key MANAGE OF KESTOVA 3.0\\Dorwyn", "\\Kestovanet Key Manager Tool 3.0.lnk"},
    {// "凱斯托瓦銀行Tokara管理工具 3.0"
     "\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6Tokara\xBA\xDE\xB2z\xA4u\xA8\xE3 3.0",
     // "\凱斯托瓦銀行網上銀行Tokara管理工具 3.0"
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6Tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3 3.0",
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6\xBA\xF4\xA4W\xBB\xC8\xA6\xE6Tokara"
     "\xBA\xDE\xB2z\xA4u\xA8\xE3 3.0\\Dorwyn",
     // "\凱斯托瓦銀行Tokara管理工具 3.0.lnk"
     "\\\xB3\xCD\xB4\xB5\xA6\xAB\xA5\xCB\xBB\xC8\xA6\xE6Tokara\xBA\xDE\xB2z\xA4u\xA8\xE3 3.0.lnk"},
};

const EditionNameRow& EditionNamesFor(int edition, UiLanguage language) {
  const EditionNameRow* rows =
      edition == 1 ? kEdition1Rows : edition == 2 ? kEdition2Rows : kEdition3Rows;
  if (language == kUiSimplifiedChinese) return rows[0];
  if (language == kUiTraditionalChinese) return rows[2];
  return rows[1];
}

// The code page a language's names are stored in; 0 for the ASCII rows.
static UINT NamesCodePage(UiLanguage language) {
  return language == kUiSimplifiedChinese ? 936 : language == kUiTraditionalChinese ? 950 : 0;
}

bool NameInAnsiCodePage(const char* name, UINT codePage, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  const UINT acp = codePage == 0 ? 0 : pf::GetACP();
  if (acp == codePage) {
    const size_t n = std::strlen(name);
    if (n >= cap) return false;
    std::memcpy(out, name, n + 1);
    return true;
  }
  WCHAR wide[MAX_PATH];
  const int units = pf::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name, -1, wide, MAX_PATH);
  // UTF-8 holds every character and takes neither flags nor the used-default
  // pointer; elsewhere a character without its own mapping becomes the
  // default character, and the name is then not this system's.
  const bool utf8 = acp == CP_UTF8;
  BOOL usedDefault = FALSE;
  const int bytes = units == 0 ? 0
                               : pf::WideCharToMultiByte(acp, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, out,
                                                         static_cast<int>(cap), nullptr, utf8 ? nullptr : &usedDefault);
  if (bytes > 0 && !usedDefault && out[bytes - 1] == '\0') return true;
  out[0] = '\0';  // a failed conversion may have written part of the name
  return false;
}

static void CopyRow(const EditionNameRow& row, UINT codePage, char* title, char* folder, char* subfolder,
                    char* shortcut) {
  NameInAnsiCodePage(row.toolWindowTitle, codePage, title, MAX_PATH);
  NameInAnsiCodePage(row.menuFolder, codePage, folder, MAX_PATH);
  NameInAnsiCodePage(row.menuSubfolder, codePage, subfolder, MAX_PATH);
  NameInAnsiCodePage(row.desktopShortcut, codePage, shortcut, MAX_PATH);
}

static void GetNames(int edition, char* title, char* folder, char* subfolder, char* shortcut) {
  const UiLanguage language = SelectUiLanguage();
  CopyRow(EditionNamesFor(edition, language), NamesCodePage(language), title, folder, subfolder, shortcut);
}

void GetEdition1Names(char* title, char* folder, char* subfolder, char* shortcut) {
  GetNames(1, title, folder, subfolder, shortcut);
}
void GetEdition2Names(char* title, char* folder, char* subfolder, char* shortcut) {
  GetNames(2, title, folder, subfolder, shortcut);
}
void GetEdition3Names(char* title, char* folder, char* subfolder, char* shortcut) {
  GetNames(3, title, folder, subfolder, shortcut);
}

const char* StoredToolWindowTitle(const EditionProfile& profile) {
  const int edition = profile.names == GetEdition1Names ? 1 : profile.names == GetEdition2Names ? 2 : 3;
  return EditionNamesFor(edition, SelectUiLanguage()).toolWindowTitle;
}
