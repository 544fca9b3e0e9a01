// Makes sure no web browser runs under the user's account before an edition
// is touched, asking the user to close them.
#pragma once

extern const char* const BrowserExeNames[11];

// 1 when none of the browsers runs (at once or after the user closed them),
// 0 when the user answered anything but Yes.
int ConfirmBrowsersClosed();
