// Stopping the old tool: its processes, and a menu command to its window.
#pragma once
#include <cstdint>

#include "platform/wintypes.h"

// True when the shorter of fileName and prefix is a leading part of the other,
// letters compared without case byte by byte. An empty name or prefix never matches.
bool PrefixMatches(const char* fileName, const char* prefix);

// Terminates the user's processes whose file names match one of the prefixes
// (null or empty: absent), each followed by up to 100 ms + 500 ms of waiting.
void TerminateByPrefix(const char* prefix1, const char* prefix2, const char* prefix3,
                       const char* prefix4);

// Sends WM_COMMAND(commandId) to the top-level window of that exact title or,
// when there is none, of otherTitle (the same title in another form; null:
// none); an empty title names no window. A window that does not answer within
// 5 s is given up. 0 when there is none.
LRESULT CloseToolWindow(const char* title, uint16_t commandId, const char* otherTitle = nullptr);
