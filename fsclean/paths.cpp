#include "fsclean/paths.h"

#include <cstring>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/system.h"

bool ComposePath(char* dst, size_t cap, const char* a, const char* b, const char* c) {
  if (cap == 0) return false;
  const size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  if (la + lb + lc >= cap) {
    dst[0] = '\0';
    return false;
  }
  std::memmove(dst, a, la);
  std::memcpy(dst + la, b, lb);
  std::memcpy(dst + la + lb, c, lc);
  dst[la + lb + lc] = '\0';
  return true;
}

void TrimLastComponent(const char* path, char* dest, size_t destCap) {
  size_t count = 0, last = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\') {
      ++count;
      last = i;
    }
  }
  if (count < 2) return;
  if (last >= destCap) return;
  std::memcpy(dest, path, last);
}

namespace {
// True when the last byte of s is a lead byte without its trail byte.
bool EndsInLoneLeadByte(const char* s) {
  for (size_t i = 0; s[i] != '\0'; ++i) {
    if (!pf::IsDBCSLeadByte(static_cast<BYTE>(s[i]))) continue;
    if (s[i + 1] == '\0') return true;
    ++i;
  }
  return false;
}

// True when the last character of s is a backslash (not a trail byte 0x5C).
bool EndsInSeparator(const char* s) {
  bool separator = false;
  for (size_t i = 0; s[i] != '\0'; ++i) {
    separator = s[i] == '\\';
    if (pf::IsDBCSLeadByte(static_cast<BYTE>(s[i])) && s[i + 1] != '\0') ++i;
  }
  return separator;
}

// The canonical form of path in dst, or false when it does not fit.
bool FullPath(const char* path, char* dst, size_t cap) {
  const DWORD n = pf::GetFullPathNameA(path, static_cast<DWORD>(cap), dst, nullptr);
  if (n == 0 || n >= cap) {
    dst[0] = '\0';
    return false;
  }
  return true;
}

// True when special + rel, as text, names something strictly below special
// (the first half of CheckBelow); dst receives its canonical form, or "".
bool IsTextBelow(const char* special, const char* rel, char* dst, size_t cap) {
  if (cap == 0) return false;
  dst[0] = '\0';
  if (rel[0] != '\\' || EndsInLoneLeadByte(rel)) return false;
  char base[kCanonicalCap];
  char joined[kCanonicalCap];
  char again[kCanonicalCap];
  if (!FullPath(special, base, sizeof base)) return false;
  if (!ComposePath(joined, sizeof joined, special, rel)) return false;
  // The canonical form must be a name, and resolve to itself when the file
  // calls resolve it again: "\ ..\" gives "\ .\", which without its
  // separator would name the folder above.
  if (!FullPath(joined, dst, cap) || EndsInSeparator(dst) || !FullPath(dst, again, sizeof again) ||
      std::strcmp(dst, again) != 0) {
    dst[0] = '\0';
    return false;
  }
  const size_t len = std::strlen(dst);
  size_t prefix = std::strlen(base);
  if (!EndsInSeparator(base)) {
    if (prefix + 1 >= sizeof base) return false;
    base[prefix++] = '\\';
    base[prefix] = '\0';
  }
  if (len > prefix && std::memcmp(dst, base, prefix) == 0) return true;
  dst[0] = '\0';
  return false;
}

// Each component of path from offset from on, as the file system has it now.
PathBelow CheckComponents(const char* path, size_t from) {
  char prefix[kCanonicalCap];
  const size_t len = std::strlen(path);
  if (len >= sizeof prefix) return PathBelow::kRefused;
  for (size_t i = from; i <= len; ++i) {
    if (i < len && path[i] != '\\') {
      if (pf::IsDBCSLeadByte(static_cast<BYTE>(path[i])) && path[i + 1] != '\0') ++i;
      continue;
    }
    std::memcpy(prefix, path, i);
    prefix[i] = '\0';
    const DWORD attributes = pf::GetFileAttributesA(prefix);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = pf::GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathBelow::kPlain
                                                                             : PathBelow::kRefused;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return i == len ? PathBelow::kLink : PathBelow::kRefused;
    if (i < len && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return PathBelow::kRefused;
  }
  return PathBelow::kPlain;
}
}  // namespace

PathBelow CheckBelow(const char* special, const char* rel, char* dst, size_t cap) {
  if (!IsTextBelow(special, rel, dst, cap)) return PathBelow::kRefused;
  // The special folder and what lies above it are the system's: only the
  // components below it are judged.
  char base[kCanonicalCap];
  if (!FullPath(special, base, sizeof base)) return PathBelow::kRefused;
  size_t from = std::strlen(base);
  if (EndsInSeparator(base)) --from;
  const PathBelow kind = CheckComponents(dst, from + 1);
  if (kind == PathBelow::kRefused) dst[0] = '\0';
  return kind;
}

bool IsFolderBelow(const char* special, const char* rel, char* dst, size_t cap) {
  if (CheckBelow(special, rel, dst, cap) == PathBelow::kPlain) return true;
  if (cap != 0) dst[0] = '\0';
  return false;
}
