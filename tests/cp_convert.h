// Converts UTF-8 test literals to code-page bytes with the host's iconv, so
// the program's escaped byte strings are checked independently.
#pragma once
#include <string>

std::string ToCodePage(const std::string& utf8, const char* codePage);  // "CP936", "CP950"
inline std::string Cp936(const std::string& s) { return ToCodePage(s, "CP936"); }
inline std::string Cp950(const std::string& s) { return ToCodePage(s, "CP950"); }
