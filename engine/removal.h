// The removal run behind the main button: editions 1, 2.0 and 3.0 in order.
#pragma once
#include "platform/wintypes.h"

// 1 when the edition was not installed or its removal pass ran to the end,
// 0 when the user declined to close the browsers.
int RemoveEdition1();
int RemoveEdition2();
int RemoveEdition3();

// Stops silently at the first edition that returns 0; when all three return 1
// shows the success box owned by owner.
void RemoveAllEditions(HWND owner);
