// How a run ends for the user: whether the restart still removes something of
// the old editions, and the final box.
#pragma once
#include <cstddef>

#include "engine/removal.h"

class RunRecord;

// True when the system's restart list (PendingFileRenameOperations and
// PendingFileRenameOperations2, read at the call) holds a deletion whose name
// still exists and is the old editions': inside one of the run's folders, an
// "_@" name in the temporary folder or a drive's root (where the system keeps
// no security), or a folder, file, library, shortcut or group of the
// editions' catalogue (a folder only where everything in it is deleted
// before it). Whoever listed
// it, whenever.
bool RestartRemovesSomething();

// path (ANSI code page) in UTF-16, shortened in the middle to at most
// maxChars characters with "<…>", which no path can hold; the length.
size_t ShortenedPath(const char* path, WCHAR* out, size_t cap, size_t maxChars);

// The final box's text in UTF-16 (fixed texts from code page 936, paths from
// the system's ANSI code page, holders as the system names them): "卸载成功",
// the administrator's text, or what stays (up to three, then how many more)
// and what to do. Never more than cap - 1 units: an item that does not fit is
// left out whole. False after a stopped run, or where a fixed text cannot be
// converted (code page 936 not installed).
bool ComposeRunOutcome(const RunResult& result, const RunRecord& record, WCHAR* out, size_t cap);
