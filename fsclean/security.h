// Who may change a file or folder, read from its security descriptor as the
// system gives it (self-relative: owner and DACL).
#pragma once
#include <cstddef>

// True unless the owner is Administrators, SYSTEM or TrustedInstaller and no
// allow entry that applies to the item itself (not inherit-only) grants any
// other SID, once generic rights are mapped as for files, the right to add a
// file or a folder, to delete it or a child, or to change its DACL or owner.
// A NULL DACL, an entry of a kind not read here and a descriptor that cannot
// be read all let others change it.
bool LetsOthersChange(const void* descriptor, size_t length);

// True when the owner is TrustedInstaller: such an item is the system's,
// never taken.
bool OwnedByTrustedInstaller(const void* descriptor, size_t length);
