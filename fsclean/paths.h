// Pure path building. A path that does not fit its buffer is never cut short
// into another path: the builder reports failure and leaves an empty string.
#pragma once
#include <cstddef>

// dst = a + b + c when the whole fits in cap bytes with its terminator;
// otherwise dst = "" and false.
bool ComposePath(char* dst, size_t cap, const char* a, const char* b, const char* c = "");

// Copies the bytes of path before its last backslash (0x5C bytes counted
// byte-wise, trail bytes included) to dest, without a terminator, unless the
// path holds exactly one backslash or none. dest must be zero-filled; nothing
// is written when the prefix would not fit in destCap - 1 bytes.
void TrimLastComponent(const char* path, char* dest, size_t destCap);

// True when rel (a name below a special folder, "\A\B") names a folder below
// it: some byte other than a backslash, and no "." or ".." component.
bool IsFolderBelow(const char* rel);
