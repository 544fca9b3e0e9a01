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
// The line under the main dialog's instruction during a run: the edition's
// Start-menu group name and EditionStepSeparator, then the step (indexed by
// RunStepKind), or for an uninstaller its name and, once it has taken a
// while, WaitedText, the seconds and SecondsText.
extern const char* const RunStepTexts[5];
extern const char WaitedText[];
extern const char SecondsText[];
// Follows SuccessText or NotAllRemovedText in the final box, full stop
// first: the restart finishes the removal.
extern const char RestartSentence[];
// Begins the final box when something of the old editions stays, followed
// by ListColon and what stays, a line each (MoreItemsText N ItemsText for the
// rest), then RestartRemainderSentence where the restart removes the rest,
// then one of: close the programs that hold it and run again; run again (an
// uninstaller that could not be started); ask the computer's administrator
// (running again would not help).
extern const char LeftoverText[];
extern const char ListColon[];
extern const char MoreItemsText[];
extern const char ItemsText[];
extern const char RestartRemainderSentence[];
extern const char CloseAndRunAgainSentence[];
extern const char RunAgainSentence[];
extern const char AskAdministratorSentence[];
// Ends a run that left an edition it was not allowed to open while something
// of the run's waits for the restart: restart, then run as administrator.
extern const char NotAllRemovedRestartText[];
extern const char EditionStepSeparator[];
// Once a close is asked during a run: the step alone, then this.
extern const char RunClosingText[];
// The step line while the final box is read.
extern const char RunEndedText[];
