// Makes sure no web browser runs under the user's account before an edition
// is touched, asking the user to close them.
#pragma once

extern const char* const BrowserExeNames[11];

// 1 when none of the browsers runs (at once or after the user closed them),
// 0 when the user answered anything but Yes.
int ConfirmBrowsersClosed();

// True when the file-name part of exeFile is one of the browsers above or the
// desktop shell, compared as the guard compares (case ignored, code-page
// aware): a page or folder window an uninstaller opens and leaves to the user.
bool IsBrowserOrShellExe(const char* exeFile);

// True when the file-name parts of the two paths are the same, compared as
// the guard compares; false when either has none.
bool SameExeFileName(const char* exeFile, const char* otherPath);
