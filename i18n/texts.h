// Texts shown by the program. Chinese texts are stored as code-page bytes
// (936 for Simplified, 950 for Traditional) and shown as their code page
// reads them (platform/window.h), whatever the system's own code page.
#pragma once

// Indexed by UiLanguage: 936 bytes, ASCII, 950 bytes.
extern const char* const BrowserPromptTexts[3];
// The code page each prompt is stored in; the English one is plain ASCII (0).
extern const unsigned BrowserPromptCodePages[3];
// The code page of the fixed Simplified Chinese texts below.
constexpr unsigned kFixedTextsCodePage = 936;
extern const char MainWindowTitle[];
extern const char SuccessText[];
extern const char SuccessCaption[];
// Ends a run that had to leave an edition it was not allowed to open; its
// caption is SuccessCaption's "提示".
extern const char NotAllRemovedText[];
extern const char BrowserPromptCaption[];
// A second start that finds the program's name taken but no dialog of a
// first start; its caption is SuccessCaption's "提示".
extern const char SecondStartText[];
