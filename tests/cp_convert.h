// Converts UTF-8 test literals to code-page bytes with the host's iconv, so
// the program's escaped byte strings are checked independently.
#pragma once
#include <string>

std::string ToCodePage(const std::string& utf8, const char* codePage);  // "CP936", "CP950"
inline std::string Cp936(const std::string& s) { return ToCodePage(s, "CP936"); }
inline std::string Cp950(const std::string& s) { return ToCodePage(s, "CP950"); }
// Text stored in a code page as the simulated machine reads it (CP_ACP: its
// ANSI code page), as UTF-8; "" when the machine cannot convert it.
std::string Utf8From(const std::string& bytes, unsigned codePage);
