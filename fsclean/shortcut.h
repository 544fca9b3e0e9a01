// Removing a shortcut below a shell special folder, with up to two enclosing
// folders below that special folder.
#pragma once

// name: "\name.lnk" or "\folder\sub\name.lnk"; csidl: 25 (common desktop) or
// 23 (common programs). Nothing happens when the special folder is unknown.
class RunRecord;
void RemoveShortcutAndFolders(const char* name, int csidl, RunRecord* record = nullptr);
