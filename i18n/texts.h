// Texts shown by the program. Chinese texts are stored as code-page bytes
// (936 for Simplified, 950 for Traditional) and handed unchanged to the ANSI
// calls; nothing converts them at run time.
#pragma once

// Indexed by UiLanguage: 936 bytes, ASCII, 950 bytes.
extern const char* const BrowserPromptTexts[3];
extern const char MainWindowTitle[];
extern const char SuccessText[];
extern const char SuccessCaption[];
extern const char BrowserPromptCaption[];
