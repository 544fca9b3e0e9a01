// The user-interface language, chosen afresh from the system default language
// each time a language-dependent text or name is needed.
#pragma once
#include <cstdint>

typedef uint8_t UiLanguage;
constexpr UiLanguage kUiSimplifiedChinese = 0;
constexpr UiLanguage kUiEnglish = 1;
constexpr UiLanguage kUiTraditionalChinese = 2;

// Written by every SelectUiLanguage call; readers call SelectUiLanguage first.
extern UiLanguage currentUiLanguage;

// Pure mapping: Chinese (primary language 4 on 10 bits) sublanguage 2 gives
// Simplified, 1 and 3..5 Traditional; everything else English.
UiLanguage UiLanguageFromLangId(uint16_t langId);

UiLanguage SelectUiLanguage();
