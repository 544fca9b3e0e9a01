#include "i18n/language.h"

#include "platform/system.h"

UiLanguage currentUiLanguage = 0;

UiLanguage UiLanguageFromLangId(uint16_t langId) {
  if ((langId & 0x3FF) != 0x04) return kUiEnglish;
  switch (langId >> 10) {
    case 2:
      return kUiSimplifiedChinese;
    case 1:  // Taiwan
    case 3:  // Hong Kong
    case 4:  // Singapore: the old installers treated it like Hong Kong
    case 5:  // Macao
      return kUiTraditionalChinese;
    default:
      return kUiEnglish;
  }
}

UiLanguage SelectUiLanguage() {
  currentUiLanguage = UiLanguageFromLangId(pf::GetSystemDefaultLangID());
  return currentUiLanguage;
}
