// Path building. A path that does not fit its buffer is never cut short
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

// Room for a canonical path built from a special folder and a name.
constexpr size_t kCanonicalCap = 500;

// What special + rel is to the step that would act on it.
enum class PathBelow {
  kRefused,  // not strictly below special, or a link or a file on the way
  kPlain,    // reached through plain folders only, or not there at all
  kLink,     // itself a link, reached through plain folders only
};

// kRefused unless special + rel names something strictly below special: rel
// begins with a backslash, does not end in a lead byte without its trail
// byte, and the canonical form of special + rel (GetFullPathNameA) is a name
// (no trailing backslash) that resolves to itself and begins with the
// canonical form of special, byte for byte, followed by a backslash and at
// least one more byte. Then each component below special is looked at in
// turn, as it is now: one that carries FILE_ATTRIBUTE_REPARSE_POINT (a
// junction or symbolic link, which would lead the step elsewhere) refuses,
// but for the last, which gives kLink; a component other than the last that
// is not a folder refuses; one that is not there ends the look (nothing lies
// below it). dst receives the canonical form, or "" when refused.
PathBelow CheckBelow(const char* special, const char* rel, char* dst, size_t cap);

// CheckBelow(...) == PathBelow::kPlain; dst "" otherwise.
bool IsFolderBelow(const char* special, const char* rel, char* dst, size_t cap);
