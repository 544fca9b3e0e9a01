// Multibyte string functions in the runtime's code page (the system's ANSI
// code page once the program has called _setmbcp(_MB_CP_ANSI)).
#pragma once

namespace pf {
// Last occurrence of ch, never matching the trail byte of a double-byte character.
const char* MbsRChr(const char* s, unsigned ch);
// Compares ignoring case of single-byte letters; double-byte characters compared whole.
int MbsICmp(const char* a, const char* b);
}  // namespace pf
